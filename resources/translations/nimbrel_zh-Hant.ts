<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_Hant" sourcelanguage="zh_CN">
<context>
    <name>Nimbrel</name>
    <message>
        <source>弹出剪切板</source>
        <translation>彈出剪貼簿</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>設定</translation>
    </message>
    <message>
        <source>退出 Nimbrel</source>
        <translation>結束 Nimbrel</translation>
    </message>
    <message>
        <source>暂停记录</source>
        <translation>暫停記錄</translation>
    </message>
    <message>
        <source>清除历史记录…</source>
        <translation>清除歷史記錄…</translation>
    </message>
    <message>
        <source>Nimbrel：记录已暂停</source>
        <translation>Nimbrel：記錄已暫停</translation>
    </message>
    <message>
        <source>Nimbrel：记录已暂停，直到 %1</source>
        <translation>Nimbrel：記錄已暫停，直到 %1</translation>
    </message>
    <message>
        <source>关于 Nimbrel</source>
        <translation>關於 Nimbrel</translation>
    </message>
    <message>
        <source>关闭窗口</source>
        <translation>關閉視窗</translation>
    </message>
    <message>
        <source>联系作者</source>
        <translation>聯絡作者</translation>
    </message>
    <message>
        <source>Nimbrel 设置</source>
        <translation>Nimbrel 設定</translation>
    </message>
    <message>
        <source>搜索</source>
        <translation>搜尋</translation>
    </message>
    <message>
        <source>全部</source>
        <translation>全部</translation>
    </message>
    <message>
        <source>文本</source>
        <translation>文字</translation>
    </message>
    <message>
        <source>图片</source>
        <translation>圖片</translation>
    </message>
    <message>
        <source>链接</source>
        <translation>連結</translation>
    </message>
    <message>
        <source>颜色</source>
        <translation>顏色</translation>
    </message>
    <message>
        <source>未找到匹配项</source>
        <translation>找不到相符的項目</translation>
    </message>
    <message>
        <source>暂无剪切板历史</source>
        <translation>尚無剪貼簿記錄</translation>
    </message>
    <message>
        <source>（空）</source>
        <translation>（空白）</translation>
    </message>
    <message>
        <source>跟随系统</source>
        <translation>跟隨系統</translation>
    </message>
    <message>
        <source>常驻系统托盘 · 全局快捷键唤起 · 选中即粘贴</source>
        <translation>常駐系統匣 · 全域快捷鍵喚出 · 選取即貼上</translation>
    </message>
    <message>
        <source>重启以更新</source>
        <translation>重新啟動以更新</translation>
    </message>
    <message>
        <source>无法自动粘贴</source>
        <translation>無法自動貼上</translation>
    </message>
    <message>
        <source>此桌面不允许模拟按键：选中的条目会放到剪贴板上，请按 Ctrl+V 粘贴。</source>
        <translation>此桌面不允許模擬按鍵：選取的項目會放到剪貼簿上，請按 Ctrl+V 貼上。</translation>
    </message>
    <message>
        <source>了解详情</source>
        <translation>了解詳情</translation>
    </message>
    <message>
        <source>开机自启动</source>
        <translation>登入時自動啟動</translation>
    </message>
    <message>
        <source>记录鼠标选中的文字</source>
        <translation>記錄滑鼠選取的文字</translation>
    </message>
    <message>
        <source>用鼠标选中的文字无需复制即会记录。密码管理器的机密内容在剪贴板上时不记录。</source>
        <translation>用滑鼠選取的文字無需複製即會記錄。密碼管理器的機密內容在剪貼簿上時不記錄。</translation>
    </message>
    <message>
        <source>发送首次启动报告</source>
        <translation>傳送首次啟動報告</translation>
    </message>
    <message>
        <source>首次启动时发送一次：随机安装标识、系统语言和内核版本。启动时若已关闭，则永不发送。</source>
        <translation>首次啟動時傳送一次：隨機安裝識別碼、系統語言和核心版本。啟動時若已關閉，則永不傳送。</translation>
    </message>
    <message>
        <source>已在首次启动时发送一次，此后不再发送任何内容。</source>
        <translation>已在首次啟動時傳送一次，此後不再傳送任何內容。</translation>
    </message>
    <message>
        <source>已拒绝：启动报告永不发送。</source>
        <translation>已拒絕：啟動報告永不傳送。</translation>
    </message>
    <message>
        <source>自动检查更新</source>
        <translation>自動檢查更新</translation>
    </message>
    <message>
        <source>启动时及每 6 小时向更新服务器查询最新版本，不附带任何标识。关闭后立即停止查询。</source>
        <translation>啟動時及每 6 小時向更新伺服器查詢最新版本，不附帶任何識別碼。關閉後立即停止查詢。</translation>
    </message>
    <message>
        <source>此项已被软件包关闭（%1）。</source>
        <translation>此項已被軟體套件關閉（%1）。</translation>
    </message>
    <message>
        <source>语言</source>
        <translation>語言</translation>
    </message>
    <message>
        <source>切换后立即生效。</source>
        <translation>切換後立即生效。</translation>
    </message>
    <message>
        <source>弹出快捷键</source>
        <translation>彈出快捷鍵</translation>
    </message>
    <message>
        <source>按下后立即弹出剪切板面板，建议避免和系统快捷键冲突。</source>
        <translation>按下後立即彈出剪貼簿面板，建議避免與系統快捷鍵衝突。</translation>
    </message>
    <message>
        <source>弹出形态</source>
        <translation>彈出樣式</translation>
    </message>
    <message>
        <source>底部</source>
        <translation>底部</translation>
    </message>
    <message>
        <source>左侧竖排</source>
        <translation>左側直排</translation>
    </message>
    <message>
        <source>右侧竖排</source>
        <translation>右側直排</translation>
    </message>
    <message>
        <source>最大占用空间</source>
        <translation>最大佔用空間</translation>
    </message>
    <message>
        <source>%1 MB</source>
        <translation>%1 MB</translation>
    </message>
    <message>
        <source>超过容量时按时间从旧到新自动清理。所有数据只保存在本机的 %1 中。</source>
        <translation>超過容量時會依時間由舊到新自動清理。所有資料都只保存在本機的 %1 中。</translation>
    </message>
    <message>
        <source>支持 Nimbrel</source>
        <translation>支持 Nimbrel</translation>
    </message>
    <message>
        <source>如果 Nimbrel 帮到了你，可以请我喝杯咖啡。</source>
        <translation>如果 Nimbrel 幫到了你，可以請我喝杯咖啡。</translation>
    </message>
    <message>
        <source>Nimbrel</source>
        <translation>Nimbrel</translation>
    </message>
    <message>
        <source>版本 %1</source>
        <translation>版本 %1</translation>
    </message>
    <message>
        <source>record_shortcut</source>
        <translation>錄製快捷鍵</translation>
    </message>
    <message>
        <source>press_shortcut</source>
        <translation>按下快捷鍵</translation>
    </message>
    <message>
        <source>keyboard_shortcut_used_by_menu_item</source>
        <translation>此快捷鍵已被選單項目「%1」使用，無法使用。</translation>
    </message>
    <message>
        <source>keyboard_shortcut_disallowed</source>
        <translation>系統不允許使用此快捷鍵。</translation>
    </message>
    <message>
        <source>keyboard_shortcut_used_by_system</source>
        <translation>此快捷鍵已被系統使用。</translation>
    </message>
    <message>
        <source>keyboard_shortcuts_can_be_changed</source>
        <translation>大多數系統快捷鍵都可以在桌面環境的鍵盤設定中更改。</translation>
    </message>
    <message>
        <source>ok</source>
        <translation>好</translation>
    </message>
    <message>
        <source>force_use_shortcut</source>
        <translation>仍要使用</translation>
    </message>
    <message>
        <source>请我喝杯咖啡</source>
        <translation>請我喝杯咖啡</translation>
    </message>
    <message>
        <source>此桌面没有系统托盘</source>
        <translation>此桌面沒有系統匣</translation>
    </message>
    <message>
        <source>按 %1 或运行 nimbrel --toggle 打开剪切板面板；运行 nimbrel --settings 打开设置。</source>
        <translation>按 %1 或執行 nimbrel --toggle 打開剪貼簿面板；執行 nimbrel --settings 打開設定。</translation>
    </message>
    <message>
        <source>运行 nimbrel --toggle 打开剪切板面板；运行 nimbrel --settings 打开设置。</source>
        <translation>執行 nimbrel --toggle 打開剪貼簿面板；執行 nimbrel --settings 打開設定。</translation>
    </message>
    <message>
        <source>桌面支持</source>
        <translation>桌面支援</translation>
    </message>
    <message>
        <source>无法连接显示服务器：Nimbrel 既不能记录复制的内容，也不能显示面板。</source>
        <translation>無法連線到顯示伺服器：Nimbrel 既不能記錄複製的內容，也不能顯示面板。</translation>
    </message>
    <message>
        <source>此桌面不允许应用程序监视剪贴板：复制的内容不会被记录。</source>
        <translation>此桌面不允許應用程式監看剪貼簿：複製的內容不會被記錄。</translation>
    </message>
    <message>
        <source>此桌面不告知哪个应用程序在前台：记录不显示来源应用程序，也无法认出被排除的应用程序（请改为暂停记录）。</source>
        <translation>此桌面不會告知哪個應用程式在前景：記錄不顯示來源應用程式，也無法認出被排除的應用程式（請改為暫停記錄）。</translation>
    </message>
    <message>
        <source>首次粘贴时，桌面会询问一次是否允许控制键盘（远程桌面）。</source>
        <translation>首次貼上時，桌面會詢問一次是否允許控制鍵盤（遠端桌面）。</translation>
    </message>
    <message>
        <source>此桌面不向应用程序提供全局快捷键：请在桌面的键盘设置中把 nimbrel --toggle 绑定到一个按键。</source>
        <translation>此桌面不向應用程式提供全域快速鍵：請在桌面的鍵盤設定中把 nimbrel --toggle 綁定到一個按鍵。</translation>
    </message>
    <message>
        <source>快捷键是 Nimbrel 设置的 sway 按键绑定，按下按键时即生效；Nimbrel 无法得知是否有其他绑定使用同一按键。</source>
        <translation>快速鍵是 Nimbrel 設定的 sway 按鍵綁定，按下按鍵時即生效；Nimbrel 無法得知是否有其他綁定使用同一按鍵。</translation>
    </message>
    <message>
        <source>在你于下方允许后，快捷键会成为运行 nimbrel --toggle 的 GNOME 自定义快捷键；按下按键时即生效。</source>
        <translation>在你於下方允許後，快速鍵會成為執行 nimbrel --toggle 的 GNOME 自訂快速鍵；按下按鍵時即生效。</translation>
    </message>
    <message>
        <source>面板以普通窗口打开，打开期间会占用键盘。</source>
        <translation>面板以一般視窗開啟，開啟期間會佔用鍵盤。</translation>
    </message>
    <message>
        <source>添加 GNOME 快捷键</source>
        <translation>新增 GNOME 快速鍵</translation>
    </message>
    <message>
        <source>已添加到 GNOME 的键盘设置中。</source>
        <translation>已新增到 GNOME 的鍵盤設定中。</translation>
    </message>
    <message>
        <source>排除的应用</source>
        <translation>排除的應用程式</translation>
    </message>
    <message>
        <source>尚未排除任何应用。</source>
        <translation>尚未排除任何應用程式。</translation>
    </message>
    <message>
        <source>这些应用在前台时复制的内容一律不读取。标记了复制内容的密码管理器始终不记录。</source>
        <translation>這些應用程式在前景時複製的內容一律不讀取。標記了複製內容的密碼管理器一律不記錄。</translation>
    </message>
    <message>
        <source>添加</source>
        <translation>新增</translation>
    </message>
    <message>
        <source>添加排除的应用</source>
        <translation>新增排除的應用程式</translation>
    </message>
    <message>
        <source>移除 %1</source>
        <translation>移除 %1</translation>
    </message>
    <message>
        <source>没有其他正在运行的应用</source>
        <translation>沒有其他正在執行的應用程式</translation>
    </message>
    <message>
        <source>输入桌面 ID 或窗口类…</source>
        <translation>輸入桌面 ID 或視窗類別…</translation>
    </message>
    <message>
        <source>排除应用</source>
        <translation>排除應用程式</translation>
    </message>
    <message>
        <source>桌面 ID（如 org.gnome.TextEditor）或窗口类（如 XTerm）：</source>
        <translation>桌面 ID（如 org.gnome.TextEditor）或視窗類別（如 XTerm）：</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>历史记录为空。</source>
        <translation>歷史記錄為空。</translation>
    </message>
    <message>
        <source>置顶记录占用 %1，已超过最大占用空间 %2。置顶记录会全部保留，因此其他记录都不会保留。</source>
        <translation>釘選記錄佔用 %1，已超過最大佔用空間 %2。釘選記錄會全部保留，因此其他記錄都不會保留。</translation>
    </message>
    <message>
        <source>清除历史记录</source>
        <translation>清除歷史記錄</translation>
    </message>
    <message>
        <source>要清除剪贴板历史吗？</source>
        <translation>要清除剪貼簿歷史嗎？</translation>
    </message>
    <message>
        <source>历史中有 1 条记录，占用 %1。</source>
        <translation>歷史中有 1 筆記錄，佔用 %1。</translation>
    </message>
    <message>
        <source>历史中有 %1 条记录，占用 %2。</source>
        <translation>歷史中有 %1 筆記錄，佔用 %2。</translation>
    </message>
    <message>
        <source>此操作无法撤销。</source>
        <translation>此操作無法復原。</translation>
    </message>
    <message>
        <source>同时删除 1 条置顶记录（%1）</source>
        <translation>同時刪除 1 筆釘選記錄（%1）</translation>
    </message>
    <message>
        <source>同时删除 %1 条置顶记录（%2）</source>
        <translation>同時刪除 %1 筆釘選記錄（%2）</translation>
    </message>
    <message>
        <source>清除</source>
        <translation>清除</translation>
    </message>
    <message>
        <source>已固定</source>
        <translation>已釘選</translation>
    </message>
    <message>
        <source>固定 (Ctrl+P)</source>
        <translation>釘選 (Ctrl+P)</translation>
    </message>
    <message>
        <source>取消固定 (Ctrl+P)</source>
        <translation>取消釘選 (Ctrl+P)</translation>
    </message>
    <message>
        <source>暂无固定的条目</source>
        <translation>尚無釘選的項目</translation>
    </message>
</context>
</TS>
