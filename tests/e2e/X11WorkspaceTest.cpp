// The X11 workspace against windows on an Xvfb of its own (tests/support/private-display). There is no
// window manager there, so the test writes the window list on the root window as one would.

#include "platform/linux/X11Workspace.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

using namespace nimbrel;

namespace {

// A plain X client of the test's own, standing in for other applications' windows.
struct Client {
    Client() : c(xcb_connect(nullptr, nullptr)), root(xcb_setup_roots_iterator(xcb_get_setup(c)).data->root) {}
    ~Client() { xcb_disconnect(c); }

    xcb_atom_t atom(const char* name)
    {
        const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr), &std::free);
        return reply ? reply->atom : XCB_ATOM_NONE;
    }
    // A window with this WM_CLASS ("instance\0Class\0"; none when empty) and _NET_WM_PID (none when 0).
    xcb_window_t window(const QByteArray& wmClass, uint32_t pid)
    {
        const xcb_window_t w = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, root, 0, 0, 10, 10, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        if (!wmClass.isEmpty())
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, wmClass.size(),
                                wmClass.constData());
        if (pid != 0)
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
        return w;
    }
    void setClientList(const std::vector<xcb_window_t>& windows)
    {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 32,
                            static_cast<uint32_t>(windows.size()), windows.data());
        sync();
    }
    void removeClientList()
    {
        xcb_delete_property(c, root, atom("_NET_CLIENT_LIST"));
        sync();
    }
    // Returns once the server has dealt with everything sent before.
    void sync() { std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }

    xcb_connection_t* c;
    xcb_window_t root;
};

struct Expected {
    std::optional<QString> id;
    std::optional<QString> name;
    std::optional<QString> windowClass;
};

std::vector<Expected> described(const QList<RunningApplication>& applications)
{
    std::vector<Expected> result;
    for (const RunningApplication& application : applications)
        result.push_back({application.applicationId, application.localizedName, application.windowClass});
    return result;
}

bool operator==(const Expected& a, const Expected& b)
{
    return a.id == b.id && a.name == b.name && a.windowClass == b.windowClass;
}

void PrintTo(const Expected& e, std::ostream* out)
{
    *out << "{" << e.id.value_or(QStringLiteral("-")).toStdString() << ", "
         << e.name.value_or(QStringLiteral("-")).toStdString() << ", "
         << e.windowClass.value_or(QStringLiteral("-")).toStdString() << "}";
}

}  // namespace

TEST(X11Workspace, RunningApplicationsAreTheListedWindowsOnceEachWithoutNimbrel)
{
    // One installed application, found by its window class; no other data folder is read.
    const QTemporaryDir systemData;
    qputenv("XDG_DATA_DIRS", systemData.path().toUtf8());
    const QString applications = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/applications");
    ASSERT_TRUE(QDir().mkpath(applications));
    QFile entry(applications + QStringLiteral("/org.example.Editor.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write(
        "[Desktop Entry]\nType=Application\nName=Example Editor\nExec=example-editor %F\n"
        "StartupWMClass=ExampleEditor\n");
    entry.close();

    Client client;
    const auto ownPid = static_cast<uint32_t>(::getpid());
    const uint32_t otherPid = ownPid + 100'000;  // no such process: its program stays unknown
    const xcb_window_t editor = client.window(QByteArray("editor\0ExampleEditor\0", 22), otherPid);
    const xcb_window_t secondEditor = client.window(QByteArray("editor\0ExampleEditor\0", 22), otherPid);
    const xcb_window_t terminal = client.window(QByteArray("xterm\0XTerm\0", 12), 0);
    const xcb_window_t own = client.window(QByteArray("nimbrel\0Nimbrel\0", 16), ownPid);
    const xcb_window_t nameless = client.window({}, 0);
    const xcb_window_t gone = client.window(QByteArray("gone\0Gone\0", 10), otherPid);
    xcb_destroy_window(client.c, gone);

    struct Case {
        const char* name;
        std::optional<std::vector<xcb_window_t>> list;
        std::vector<Expected> expected;
    };
    const Expected editorApp{QStringLiteral("org.example.Editor"), QStringLiteral("Example Editor"),
                             QStringLiteral("ExampleEditor")};
    const Expected terminalApp{QStringLiteral("XTerm"), std::nullopt, QStringLiteral("XTerm")};
    const Case cases[] = {
        {"every kind of window",
         std::vector{editor, own, terminal, secondEditor, nameless, gone},
         {editorApp, terminalApp}},
        {"in the window manager's order", std::vector{terminal, editor}, {terminalApp, editorApp}},
        {"only Nimbrel's own", std::vector{own}, {}},
        {"an empty list", std::vector<xcb_window_t>{}, {}},
        {"no window manager", std::nullopt, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.list)
            client.setClientList(*c.list);
        else
            client.removeClientList();
        const native::X11Workspace workspace;
        EXPECT_EQ(described(workspace.runningApplications()), c.expected);
    }

    // The installed application's name is known by its id, also while it does not run.
    const native::X11Workspace workspace;
    EXPECT_EQ(workspace.applicationName(QStringLiteral("org.example.Editor")), QStringLiteral("Example Editor"));
    EXPECT_EQ(workspace.applicationName(QStringLiteral("XTerm")), std::nullopt);
}
