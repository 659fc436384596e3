<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>Nimbrel</name>
    <message>
        <source>弹出剪切板</source>
        <translation>Show Clipboard</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>退出 Nimbrel</source>
        <translation>Quit Nimbrel</translation>
    </message>
    <message>
        <source>暂停记录</source>
        <translation>Pause Recording</translation>
    </message>
    <message>
        <source>清除历史记录…</source>
        <translation>Clear History…</translation>
    </message>
    <message>
        <source>Nimbrel：记录已暂停</source>
        <translation>Nimbrel: recording paused</translation>
    </message>
    <message>
        <source>Nimbrel：记录已暂停，直到 %1</source>
        <translation>Nimbrel: recording paused until %1</translation>
    </message>
    <message>
        <source>关于 Nimbrel</source>
        <translation>About Nimbrel</translation>
    </message>
    <message>
        <source>关闭窗口</source>
        <translation>Close Window</translation>
    </message>
    <message>
        <source>联系作者</source>
        <translation>Contact the Developer</translation>
    </message>
    <message>
        <source>Nimbrel 设置</source>
        <translation>Nimbrel Settings</translation>
    </message>
    <message>
        <source>搜索</source>
        <translation>Search</translation>
    </message>
    <message>
        <source>全部</source>
        <translation>All</translation>
    </message>
    <message>
        <source>文本</source>
        <translation>Text</translation>
    </message>
    <message>
        <source>图片</source>
        <translation>Image</translation>
    </message>
    <message>
        <source>链接</source>
        <translation>Link</translation>
    </message>
    <message>
        <source>颜色</source>
        <translation>Color</translation>
    </message>
    <message>
        <source>未找到匹配项</source>
        <translation>No matches found</translation>
    </message>
    <message>
        <source>暂无剪切板历史</source>
        <translation>No clipboard history yet</translation>
    </message>
    <message>
        <source>（空）</source>
        <translation>(Empty)</translation>
    </message>
    <message>
        <source>跟随系统</source>
        <translation>System Default</translation>
    </message>
    <message>
        <source>常驻系统托盘 · 全局快捷键唤起 · 选中即粘贴</source>
        <translation>Lives in the system tray · Opens with a global shortcut · Pick to paste</translation>
    </message>
    <message>
        <source>重启以更新</source>
        <translation>Restart to Update</translation>
    </message>
    <message>
        <source>无法自动粘贴</source>
        <translation>Automatic Paste Unavailable</translation>
    </message>
    <message>
        <source>此桌面不允许模拟按键：选中的条目会放到剪贴板上，请按 Ctrl+V 粘贴。</source>
        <translation>This desktop does not let Nimbrel type keys: the item you pick is put on the clipboard, ready for Ctrl+V.</translation>
    </message>
    <message>
        <source>了解详情</source>
        <translation>Learn More</translation>
    </message>
    <message>
        <source>开机自启动</source>
        <translation>Launch at Login</translation>
    </message>
    <message>
        <source>记录鼠标选中的文字</source>
        <translation>Record mouse selections</translation>
    </message>
    <message>
        <source>用鼠标选中的文字无需复制即会记录。密码管理器的机密内容在剪贴板上时不记录。</source>
        <translation>Text you select with the mouse is recorded without copying it. Never while a password manager&apos;s secret is on the clipboard.</translation>
    </message>
    <message>
        <source>发送首次启动报告</source>
        <translation>Send launch report</translation>
    </message>
    <message>
        <source>首次启动时发送一次：随机安装标识、系统语言和内核版本。启动时若已关闭，则永不发送。</source>
        <translation>Sent once, at the first start: a random installation ID, the system language and the kernel version. If it is off at a start, it is never sent.</translation>
    </message>
    <message>
        <source>已在首次启动时发送一次，此后不再发送任何内容。</source>
        <translation>Sent once at the first start; nothing more is ever sent.</translation>
    </message>
    <message>
        <source>已拒绝：启动报告永不发送。</source>
        <translation>Declined: the launch report is never sent.</translation>
    </message>
    <message>
        <source>自动检查更新</source>
        <translation>Check for updates automatically</translation>
    </message>
    <message>
        <source>启动时及每 6 小时向更新服务器查询最新版本，不附带任何标识。关闭后立即停止查询。</source>
        <translation>Asks the update server for the newest release at start and every 6 hours, with no identifier. Switched off, checking stops at once.</translation>
    </message>
    <message>
        <source>此项已被软件包关闭（%1）。</source>
        <translation>Turned off by the package (%1).</translation>
    </message>
    <message>
        <source>语言</source>
        <translation>Language</translation>
    </message>
    <message>
        <source>切换后立即生效。</source>
        <translation>Changes take effect immediately.</translation>
    </message>
    <message>
        <source>弹出快捷键</source>
        <translation>Panel Shortcut</translation>
    </message>
    <message>
        <source>按下后立即弹出剪切板面板，建议避免和系统快捷键冲突。</source>
        <translation>Pressing it opens the clipboard panel at once. Avoid combinations the system already uses.</translation>
    </message>
    <message>
        <source>弹出形态</source>
        <translation>Panel Position</translation>
    </message>
    <message>
        <source>底部</source>
        <translation>Bottom</translation>
    </message>
    <message>
        <source>左侧竖排</source>
        <translation>Left Side</translation>
    </message>
    <message>
        <source>右侧竖排</source>
        <translation>Right Side</translation>
    </message>
    <message>
        <source>最大占用空间</source>
        <translation>Maximum Storage</translation>
    </message>
    <message>
        <source>%1 MB</source>
        <translation>%1 MB</translation>
    </message>
    <message>
        <source>超过容量时按时间从旧到新自动清理。所有数据只保存在本机的 %1 中。</source>
        <translation>When the limit is reached, the oldest items are removed first. All data stays on this computer, in %1.</translation>
    </message>
    <message>
        <source>支持 Nimbrel</source>
        <translation>Support Nimbrel</translation>
    </message>
    <message>
        <source>如果 Nimbrel 帮到了你，可以请我喝杯咖啡。</source>
        <translation>If Nimbrel helps you, you can buy me a coffee.</translation>
    </message>
    <message>
        <source>Nimbrel</source>
        <translation>Nimbrel</translation>
    </message>
    <message>
        <source>版本 %1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>record_shortcut</source>
        <translation>Record Shortcut</translation>
    </message>
    <message>
        <source>press_shortcut</source>
        <translation>Press Shortcut</translation>
    </message>
    <message>
        <source>keyboard_shortcut_used_by_menu_item</source>
        <translation>This shortcut can’t be used because the menu item “%1” already uses it.</translation>
    </message>
    <message>
        <source>keyboard_shortcut_disallowed</source>
        <translation>This shortcut isn’t allowed by the system.</translation>
    </message>
    <message>
        <source>keyboard_shortcut_used_by_system</source>
        <translation>This shortcut is already used by the system.</translation>
    </message>
    <message>
        <source>keyboard_shortcuts_can_be_changed</source>
        <translation>Most system shortcuts can be changed in your desktop’s keyboard settings.</translation>
    </message>
    <message>
        <source>ok</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>force_use_shortcut</source>
        <translation>Use Anyway</translation>
    </message>
    <message>
        <source>请我喝杯咖啡</source>
        <translation>Buy me a coffee</translation>
    </message>
    <message>
        <source>此桌面没有系统托盘</source>
        <translation>This desktop has no system tray</translation>
    </message>
    <message>
        <source>按 %1 或运行 nimbrel --toggle 打开剪切板面板；运行 nimbrel --settings 打开设置。</source>
        <translation>Press %1 or run nimbrel --toggle to open the clipboard panel; run nimbrel --settings for the settings.</translation>
    </message>
    <message>
        <source>运行 nimbrel --toggle 打开剪切板面板；运行 nimbrel --settings 打开设置。</source>
        <translation>Run nimbrel --toggle to open the clipboard panel; run nimbrel --settings for the settings.</translation>
    </message>
    <message>
        <source>桌面支持</source>
        <translation>Desktop Support</translation>
    </message>
    <message>
        <source>无法连接显示服务器：Nimbrel 既不能记录复制的内容，也不能显示面板。</source>
        <translation>No display server could be reached: Nimbrel can neither record copies nor show its panel.</translation>
    </message>
    <message>
        <source>此桌面不允许应用程序监视剪贴板：复制的内容不会被记录。</source>
        <translation>This desktop lets no application watch the clipboard: copies are not recorded.</translation>
    </message>
    <message>
        <source>此桌面不告知哪个应用程序在前台：记录不显示来源应用程序，也无法认出被排除的应用程序（请改为暂停记录）。</source>
        <translation>This desktop does not tell which application is in front: records show no source application, and excluded applications cannot be recognised (pause recording instead).</translation>
    </message>
    <message>
        <source>首次粘贴时，桌面会询问一次是否允许控制键盘（远程桌面）。</source>
        <translation>The first paste asks, once, for the desktop's permission to control the keyboard (remote desktop).</translation>
    </message>
    <message>
        <source>此桌面不向应用程序提供全局快捷键：请在桌面的键盘设置中把 nimbrel --toggle 绑定到一个按键。</source>
        <translation>This desktop offers no global shortcut to applications: bind nimbrel --toggle to a key in its keyboard settings.</translation>
    </message>
    <message>
        <source>快捷键是 Nimbrel 设置的 sway 按键绑定，按下按键时即生效；Nimbrel 无法得知是否有其他绑定使用同一按键。</source>
        <translation>The shortcut is a sway key binding that Nimbrel makes; it acts as soon as the key goes down, and Nimbrel cannot see which other bindings use the same key.</translation>
    </message>
    <message>
        <source>在你于下方允许后，快捷键会成为运行 nimbrel --toggle 的 GNOME 自定义快捷键；按下按键时即生效。</source>
        <translation>Once you allow it below, the shortcut becomes a GNOME custom shortcut that runs nimbrel --toggle; it acts as soon as the key goes down.</translation>
    </message>
    <message>
        <source>面板以普通窗口打开，打开期间会占用键盘。</source>
        <translation>The panel opens as an ordinary window and takes the keyboard while it is open.</translation>
    </message>
    <message>
        <source>添加 GNOME 快捷键</source>
        <translation>Add GNOME Shortcut</translation>
    </message>
    <message>
        <source>已添加到 GNOME 的键盘设置中。</source>
        <translation>Added to GNOME's keyboard settings.</translation>
    </message>
    <message>
        <source>排除的应用</source>
        <translation>Excluded Applications</translation>
    </message>
    <message>
        <source>尚未排除任何应用。</source>
        <translation>No applications are excluded.</translation>
    </message>
    <message>
        <source>这些应用在前台时复制的内容一律不读取。标记了复制内容的密码管理器始终不记录。</source>
        <translation>Copies made while one of these applications is in front are never read. Password managers that mark their copies are always left out.</translation>
    </message>
    <message>
        <source>添加</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>添加排除的应用</source>
        <translation>Add an Excluded Application</translation>
    </message>
    <message>
        <source>移除 %1</source>
        <translation>Remove %1</translation>
    </message>
    <message>
        <source>没有其他正在运行的应用</source>
        <translation>No Other Applications Running</translation>
    </message>
    <message>
        <source>输入桌面 ID 或窗口类…</source>
        <translation>Enter a Desktop ID or Window Class…</translation>
    </message>
    <message>
        <source>排除应用</source>
        <translation>Exclude an Application</translation>
    </message>
    <message>
        <source>桌面 ID（如 org.gnome.TextEditor）或窗口类（如 XTerm）：</source>
        <translation>Desktop ID (such as org.gnome.TextEditor) or window class (such as XTerm):</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>历史记录为空。</source>
        <translation>The history is empty.</translation>
    </message>
    <message>
        <source>置顶记录占用 %1，已超过最大占用空间 %2。置顶记录会全部保留，因此其他记录都不会保留。</source>
        <translation>Pinned records take %1, more than the maximum storage of %2. Pinned records are all kept, so no other records are kept.</translation>
    </message>
    <message>
        <source>清除历史记录</source>
        <translation>Clear History</translation>
    </message>
    <message>
        <source>要清除剪贴板历史吗？</source>
        <translation>Clear the clipboard history?</translation>
    </message>
    <message>
        <source>历史中有 1 条记录，占用 %1。</source>
        <translation>The history holds 1 record, taking %1.</translation>
    </message>
    <message>
        <source>历史中有 %1 条记录，占用 %2。</source>
        <translation>The history holds %1 records, taking %2.</translation>
    </message>
    <message>
        <source>此操作无法撤销。</source>
        <translation>This cannot be undone.</translation>
    </message>
    <message>
        <source>同时删除 1 条置顶记录（%1）</source>
        <translation>Also delete the 1 pinned record (%1)</translation>
    </message>
    <message>
        <source>同时删除 %1 条置顶记录（%2）</source>
        <translation>Also delete the %1 pinned records (%2)</translation>
    </message>
    <message>
        <source>清除</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>已固定</source>
        <translation>Pinned</translation>
    </message>
    <message>
        <source>固定 (Ctrl+P)</source>
        <translation>Pin (Ctrl+P)</translation>
    </message>
    <message>
        <source>取消固定 (Ctrl+P)</source>
        <translation>Unpin (Ctrl+P)</translation>
    </message>
    <message>
        <source>暂无固定的条目</source>
        <translation>No pinned items</translation>
    </message>
</context>
</TS>
