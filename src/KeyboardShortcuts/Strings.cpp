#include "KeyboardShortcuts/Strings.h"

#include <utility>

namespace nimbrel::KeyboardShortcuts {

namespace {

// The key language's texts of the module's own keys. "%1" is the argument, as in the tables.
constexpr std::pair<const char16_t*, const char16_t*> builtInTexts[] = {
    {u"record_shortcut", u"录制快捷键"},
    {u"press_shortcut", u"按下快捷键"},
    {u"keyboard_shortcut_used_by_menu_item", u"此快捷键已被菜单项“%1”使用，无法使用。"},
    {u"keyboard_shortcut_disallowed", u"系统不允许使用此快捷键。"},
    {u"keyboard_shortcut_used_by_system", u"此快捷键已被系统使用。"},
    {u"keyboard_shortcuts_can_be_changed", u"大多数系统快捷键都可以在桌面环境的键盘设置中更改。"},
    {u"ok", u"好"},
    {u"force_use_shortcut", u"仍要使用"},
};

}  // namespace

std::optional<QString> builtInText(const QString& key)
{
    for (const auto& [builtInKey, text] : builtInTexts)
        if (key == QStringView(builtInKey))
            return QString::fromUtf16(text);
    return std::nullopt;
}

QStringList builtInKeys()
{
    QStringList keys;
    for (const auto& [key, text] : builtInTexts)
        keys.append(QString::fromUtf16(key));
    return keys;
}

QString localizedString(const Strings& strings, const QString& key)
{
    const QString text = strings ? strings(key) : key;
    if (!text.isEmpty() && text != key)
        return text;
    return builtInText(key).value_or(key);
}

}  // namespace nimbrel::KeyboardShortcuts
