// The X11 workspace against windows on an Xvfb of its own (tests/support/private-display). There is no
// window manager there, so the test writes the window list on the root window as one would.

#include "platform/linux/X11Workspace.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

using namespace nimbrel;
using namespace Qt::StringLiterals;
using namespace std::literals;

namespace {

// A plain X client of the test's own, standing in for other applications' windows.
struct Client {
    Client() : c(xcb_connect(nullptr, nullptr)), root(xcb_setup_roots_iterator(xcb_get_setup(c)).data->root) {}
    ~Client() { xcb_disconnect(c); }

    xcb_atom_t atom(const char* name)
    {
        const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr), &std::free);
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }
    // A window with this WM_CLASS ("instance\0Class\0"; none when empty) and _NET_WM_PID (none when 0).
    xcb_window_t window(std::string_view wmClass, uint32_t pid)
    {
        const xcb_window_t w = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, root, 0, 0, 10, 10, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        if (!wmClass.empty())
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, wmClass.size(),
                                wmClass.data());
        if (pid != 0)
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
        return w;
    }
    // The window manager's list of windows, or none at all; returns once the server has it.
    void setClientList(const std::optional<std::vector<xcb_window_t>>& windows)
    {
        if (windows)
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 32,
                                static_cast<uint32_t>(windows->size()), windows->data());
        else
            xcb_delete_property(c, root, atom("_NET_CLIENT_LIST"));
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }

    xcb_connection_t* c;
    xcb_window_t root;
};

// "id, name, class" per application, "-" for what is absent.
std::vector<std::string> described(const QList<RunningApplication>& applications)
{
    std::vector<std::string> result;
    for (const RunningApplication& a : applications)
        result.push_back(QStringList({a.applicationId.value_or(u"-"_s), a.localizedName.value_or(u"-"_s),
                                      a.windowClass.value_or(u"-"_s)})
                             .join(u", "_s)
                             .toStdString());
    return result;
}

}  // namespace

TEST(X11Workspace, RunningApplicationsAreTheListedWindowsOnceEachWithoutNimbrel)
{
    // One installed application, found by its window class; no other data folder is read.
    const QTemporaryDir systemData;
    qputenv("XDG_DATA_DIRS", systemData.path().toUtf8());
    const QString applications = qEnvironmentVariable("XDG_DATA_HOME") + u"/applications"_s;
    QFile entry(applications + u"/org.example.Editor.desktop"_s);
    ASSERT_TRUE(QDir().mkpath(applications) && entry.open(QIODevice::WriteOnly));
    entry.write(
        "[Desktop Entry]\nType=Application\nName=Example Editor\nExec=example-editor %F\n"
        "StartupWMClass=ExampleEditor\n");
    entry.close();

    Client client;
    const auto ownPid = static_cast<uint32_t>(::getpid());
    const uint32_t otherPid = ownPid + 100'000;  // no such process: its program stays unknown
    const xcb_window_t editor = client.window("editor\0ExampleEditor\0"sv, otherPid);
    const xcb_window_t secondEditor = client.window("editor\0ExampleEditor\0"sv, otherPid);
    const xcb_window_t terminal = client.window("xterm\0XTerm\0"sv, 0);
    const xcb_window_t own = client.window("nimbrel\0Nimbrel\0"sv, ownPid);
    const xcb_window_t nameless = client.window({}, 0);
    const xcb_window_t gone = client.window("gone\0Gone\0"sv, otherPid);
    xcb_destroy_window(client.c, gone);

    const std::string editorApp = "org.example.Editor, Example Editor, ExampleEditor", terminalApp = "XTerm, -, XTerm";
    const struct {
        const char* name;
        std::optional<std::vector<xcb_window_t>> list;
        std::vector<std::string> expected;
    } cases[] = {
        {"every kind of window",
         std::vector{editor, own, terminal, secondEditor, nameless, gone},
         {editorApp, terminalApp}},
        {"in the window manager's order", std::vector{terminal, editor}, {terminalApp, editorApp}},
        {"only Nimbrel's own", std::vector{own}, {}},
        {"an empty list", std::vector<xcb_window_t>{}, {}},
        {"no window manager", std::nullopt, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        client.setClientList(c.list);
        EXPECT_EQ(described(native::X11Workspace().runningApplications()), c.expected);
    }

    // The installed application's name is known by its id, also while it does not run.
    const native::X11Workspace workspace;
    EXPECT_EQ(workspace.applicationName(u"org.example.Editor"_s), u"Example Editor"_s);
    EXPECT_EQ(workspace.applicationName(u"XTerm"_s), std::nullopt);
}
