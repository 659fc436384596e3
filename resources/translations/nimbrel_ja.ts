<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja" sourcelanguage="zh_CN">
<context>
    <name>Nimbrel</name>
    <message>
        <source>弹出剪切板</source>
        <translation>クリップボードを表示</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>設定</translation>
    </message>
    <message>
        <source>退出 Nimbrel</source>
        <translation>Nimbrel を終了</translation>
    </message>
    <message>
        <source>暂停记录</source>
        <translation>記録を一時停止</translation>
    </message>
    <message>
        <source>清除历史记录…</source>
        <translation>履歴を消去…</translation>
    </message>
    <message>
        <source>Nimbrel：记录已暂停</source>
        <translation>Nimbrel：記録は一時停止中</translation>
    </message>
    <message>
        <source>Nimbrel：记录已暂停，直到 %1</source>
        <translation>Nimbrel：%1 まで記録を一時停止中</translation>
    </message>
    <message>
        <source>关于 Nimbrel</source>
        <translation>Nimbrel について</translation>
    </message>
    <message>
        <source>关闭窗口</source>
        <translation>ウインドウを閉じる</translation>
    </message>
    <message>
        <source>联系作者</source>
        <translation>開発者に連絡</translation>
    </message>
    <message>
        <source>Nimbrel 设置</source>
        <translation>Nimbrel 設定</translation>
    </message>
    <message>
        <source>搜索</source>
        <translation>検索</translation>
    </message>
    <message>
        <source>全部</source>
        <translation>すべて</translation>
    </message>
    <message>
        <source>文本</source>
        <translation>テキスト</translation>
    </message>
    <message>
        <source>图片</source>
        <translation>画像</translation>
    </message>
    <message>
        <source>链接</source>
        <translation>リンク</translation>
    </message>
    <message>
        <source>颜色</source>
        <translation>カラー</translation>
    </message>
    <message>
        <source>未找到匹配项</source>
        <translation>一致する項目はありません</translation>
    </message>
    <message>
        <source>暂无剪切板历史</source>
        <translation>クリップボードの履歴はまだありません</translation>
    </message>
    <message>
        <source>（空）</source>
        <translation>（空白）</translation>
    </message>
    <message>
        <source>跟随系统</source>
        <translation>システムに従う</translation>
    </message>
    <message>
        <source>常驻系统托盘 · 全局快捷键唤起 · 选中即粘贴</source>
        <translation>システムトレイに常駐 · グローバルショートカットで呼び出し · 選ぶだけでペースト</translation>
    </message>
    <message>
        <source>重启以更新</source>
        <translation>再起動してアップデート</translation>
    </message>
    <message>
        <source>无法自动粘贴</source>
        <translation>自動ペーストを利用できません</translation>
    </message>
    <message>
        <source>此桌面不允许模拟按键：选中的条目会放到剪贴板上，请按 Ctrl+V 粘贴。</source>
        <translation>このデスクトップではキー入力を送れません。選んだ項目はクリップボードに入るので、Ctrl+V でペーストしてください。</translation>
    </message>
    <message>
        <source>了解详情</source>
        <translation>詳しく見る</translation>
    </message>
    <message>
        <source>开机自启动</source>
        <translation>ログイン時に起動</translation>
    </message>
    <message>
        <source>记录鼠标选中的文字</source>
        <translation>マウスで選択したテキストを記録</translation>
    </message>
    <message>
        <source>用鼠标选中的文字无需复制即会记录。密码管理器的机密内容在剪贴板上时不记录。</source>
        <translation>マウスで選択したテキストを、コピーしなくても記録します。パスワードマネージャーの機密情報がクリップボードにある間は記録しません。</translation>
    </message>
    <message>
        <source>发送首次启动报告</source>
        <translation>初回起動レポートを送信</translation>
    </message>
    <message>
        <source>首次启动时发送一次：随机安装标识、系统语言和内核版本。启动时若已关闭，则永不发送。</source>
        <translation>初回起動時に一度だけ送信します：ランダムなインストールID、システムの言語、カーネルのバージョン。起動時にオフなら、以後も送信しません。</translation>
    </message>
    <message>
        <source>已在首次启动时发送一次，此后不再发送任何内容。</source>
        <translation>初回起動時に一度送信済みです。今後は何も送信しません。</translation>
    </message>
    <message>
        <source>已拒绝：启动报告永不发送。</source>
        <translation>拒否済み：起動レポートは送信されません。</translation>
    </message>
    <message>
        <source>自动检查更新</source>
        <translation>アップデートを自動確認</translation>
    </message>
    <message>
        <source>启动时及每 6 小时向更新服务器查询最新版本，不附带任何标识。关闭后立即停止查询。</source>
        <translation>起動時と6時間ごとに、識別情報を付けずにアップデートサーバーへ最新版を問い合わせます。オフにするとすぐに停止します。</translation>
    </message>
    <message>
        <source>此项已被软件包关闭（%1）。</source>
        <translation>パッケージによりオフにされています（%1）。</translation>
    </message>
    <message>
        <source>语言</source>
        <translation>言語</translation>
    </message>
    <message>
        <source>切换后立即生效。</source>
        <translation>切り替えるとすぐに反映されます。</translation>
    </message>
    <message>
        <source>弹出快捷键</source>
        <translation>呼び出しショートカット</translation>
    </message>
    <message>
        <source>按下后立即弹出剪切板面板，建议避免和系统快捷键冲突。</source>
        <translation>押すとすぐにクリップボードパネルが開きます。システムのショートカットと重ならないようにしてください。</translation>
    </message>
    <message>
        <source>弹出形态</source>
        <translation>パネルの位置</translation>
    </message>
    <message>
        <source>底部</source>
        <translation>画面下部</translation>
    </message>
    <message>
        <source>左侧竖排</source>
        <translation>左側に縦表示</translation>
    </message>
    <message>
        <source>右侧竖排</source>
        <translation>右側に縦表示</translation>
    </message>
    <message>
        <source>最大占用空间</source>
        <translation>最大使用容量</translation>
    </message>
    <message>
        <source>%1 MB</source>
        <translation>%1 MB</translation>
    </message>
    <message>
        <source>超过容量时按时间从旧到新自动清理。所有数据只保存在本机的 %1 中。</source>
        <translation>容量を超えると古い順に自動で削除されます。すべてのデータはこのコンピュータの %1 に保存されます。</translation>
    </message>
    <message>
        <source>支持 Nimbrel</source>
        <translation>Nimbrel を応援する</translation>
    </message>
    <message>
        <source>如果 Nimbrel 帮到了你，可以请我喝杯咖啡。</source>
        <translation>Nimbrel がお役に立てたなら、コーヒーを一杯ごちそうしてください。</translation>
    </message>
    <message>
        <source>Nimbrel</source>
        <translation>Nimbrel</translation>
    </message>
    <message>
        <source>版本 %1</source>
        <translation>バージョン %1</translation>
    </message>
    <message>
        <source>record_shortcut</source>
        <translation>ショートカットを記録</translation>
    </message>
    <message>
        <source>press_shortcut</source>
        <translation>ショートカットを入力</translation>
    </message>
    <message>
        <source>keyboard_shortcut_used_by_menu_item</source>
        <translation>このショートカットはメニュー項目「%1」で使われているため使用できません。</translation>
    </message>
    <message>
        <source>keyboard_shortcut_disallowed</source>
        <translation>このショートカットはシステムで許可されていません。</translation>
    </message>
    <message>
        <source>keyboard_shortcut_used_by_system</source>
        <translation>このショートカットはすでにシステムで使われています。</translation>
    </message>
    <message>
        <source>keyboard_shortcuts_can_be_changed</source>
        <translation>ほとんどのシステムショートカットはデスクトップのキーボード設定で変更できます。</translation>
    </message>
    <message>
        <source>ok</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>force_use_shortcut</source>
        <translation>このまま使用</translation>
    </message>
    <message>
        <source>请我喝杯咖啡</source>
        <translation>コーヒーをおごる</translation>
    </message>
    <message>
        <source>此桌面没有系统托盘</source>
        <translation>このデスクトップにはシステムトレイがありません</translation>
    </message>
    <message>
        <source>按 %1 或运行 nimbrel --toggle 打开剪切板面板；运行 nimbrel --settings 打开设置。</source>
        <translation>%1 を押すか nimbrel --toggle を実行するとクリップボードパネルが開きます。設定は nimbrel --settings で開きます。</translation>
    </message>
    <message>
        <source>运行 nimbrel --toggle 打开剪切板面板；运行 nimbrel --settings 打开设置。</source>
        <translation>nimbrel --toggle を実行するとクリップボードパネルが開きます。設定は nimbrel --settings で開きます。</translation>
    </message>
    <message>
        <source>桌面支持</source>
        <translation>デスクトップの対応状況</translation>
    </message>
    <message>
        <source>无法连接显示服务器：Nimbrel 既不能记录复制的内容，也不能显示面板。</source>
        <translation>ディスプレイサーバーに接続できません。Nimbrel はコピーを記録することも、パネルを表示することもできません。</translation>
    </message>
    <message>
        <source>此桌面不允许应用程序监视剪贴板：复制的内容不会被记录。</source>
        <translation>このデスクトップではアプリがクリップボードを監視できないため、コピーは記録されません。</translation>
    </message>
    <message>
        <source>此桌面不告知哪个应用程序在前台：记录不显示来源应用程序，也无法认出被排除的应用程序（请改为暂停记录）。</source>
        <translation>このデスクトップは前面のアプリを知らせないため、記録にコピー元のアプリは表示されず、除外したアプリも判別できません（代わりに記録を一時停止してください）。</translation>
    </message>
    <message>
        <source>首次粘贴时，桌面会询问一次是否允许控制键盘（远程桌面）。</source>
        <translation>初めて貼り付けるときに、キーボードの操作（リモートデスクトップ）の許可をデスクトップが一度だけ求めます。</translation>
    </message>
    <message>
        <source>此桌面不向应用程序提供全局快捷键：请在桌面的键盘设置中把 nimbrel --toggle 绑定到一个按键。</source>
        <translation>このデスクトップはアプリにグローバルショートカットを提供しません。キーボード設定で nimbrel --toggle をキーに割り当ててください。</translation>
    </message>
    <message>
        <source>快捷键是 Nimbrel 设置的 sway 按键绑定，按下按键时即生效；Nimbrel 无法得知是否有其他绑定使用同一按键。</source>
        <translation>ショートカットは Nimbrel が設定する sway のキー割り当てで、キーを押した時点で動作します。同じキーを使う他の割り当ては Nimbrel からは分かりません。</translation>
    </message>
    <message>
        <source>在你于下方允许后，快捷键会成为运行 nimbrel --toggle 的 GNOME 自定义快捷键；按下按键时即生效。</source>
        <translation>下で許可すると、ショートカットは nimbrel --toggle を実行する GNOME のカスタムショートカットになります。キーを押した時点で動作します。</translation>
    </message>
    <message>
        <source>面板以普通窗口打开，打开期间会占用键盘。</source>
        <translation>パネルは通常のウインドウとして開き、開いている間はキーボード入力を受け取ります。</translation>
    </message>
    <message>
        <source>添加 GNOME 快捷键</source>
        <translation>GNOME ショートカットを追加</translation>
    </message>
    <message>
        <source>已添加到 GNOME 的键盘设置中。</source>
        <translation>GNOME のキーボード設定に追加しました。</translation>
    </message>
    <message>
        <source>排除的应用</source>
        <translation>除外するアプリ</translation>
    </message>
    <message>
        <source>尚未排除任何应用。</source>
        <translation>除外しているアプリはありません。</translation>
    </message>
    <message>
        <source>这些应用在前台时复制的内容一律不读取。标记了复制内容的密码管理器始终不记录。</source>
        <translation>これらのアプリが前面にある間にコピーされた内容は読み取りません。コピーに印を付けるパスワードマネージャーは常に記録しません。</translation>
    </message>
    <message>
        <source>添加</source>
        <translation>追加</translation>
    </message>
    <message>
        <source>添加排除的应用</source>
        <translation>除外するアプリを追加</translation>
    </message>
    <message>
        <source>移除 %1</source>
        <translation>%1 を外す</translation>
    </message>
    <message>
        <source>没有其他正在运行的应用</source>
        <translation>ほかに実行中のアプリはありません</translation>
    </message>
    <message>
        <source>输入桌面 ID 或窗口类…</source>
        <translation>デスクトップ ID またはウインドウクラスを入力…</translation>
    </message>
    <message>
        <source>排除应用</source>
        <translation>アプリを除外</translation>
    </message>
    <message>
        <source>桌面 ID（如 org.gnome.TextEditor）或窗口类（如 XTerm）：</source>
        <translation>デスクトップ ID（例: org.gnome.TextEditor）またはウインドウクラス（例: XTerm）:</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>历史记录为空。</source>
        <translation>履歴は空です。</translation>
    </message>
    <message>
        <source>置顶记录占用 %1，已超过最大占用空间 %2。置顶记录会全部保留，因此其他记录都不会保留。</source>
        <translation>ピン留めした記録が %1 を使用し、最大使用容量 %2 を超えています。ピン留めした記録はすべて保持されるため、ほかの記録は保持されません。</translation>
    </message>
    <message>
        <source>清除历史记录</source>
        <translation>履歴を消去</translation>
    </message>
    <message>
        <source>要清除剪贴板历史吗？</source>
        <translation>クリップボードの履歴を消去しますか？</translation>
    </message>
    <message>
        <source>历史中有 1 条记录，占用 %1。</source>
        <translation>履歴には 1 件の記録があり、%1 を使用しています。</translation>
    </message>
    <message>
        <source>历史中有 %1 条记录，占用 %2。</source>
        <translation>履歴には %1 件の記録があり、%2 を使用しています。</translation>
    </message>
    <message>
        <source>此操作无法撤销。</source>
        <translation>この操作は取り消せません。</translation>
    </message>
    <message>
        <source>同时删除 1 条置顶记录（%1）</source>
        <translation>ピン留めした 1 件の記録も削除（%1）</translation>
    </message>
    <message>
        <source>同时删除 %1 条置顶记录（%2）</source>
        <translation>ピン留めした %1 件の記録も削除（%2）</translation>
    </message>
    <message>
        <source>清除</source>
        <translation>消去</translation>
    </message>
    <message>
        <source>已固定</source>
        <translation>ピン留め</translation>
    </message>
    <message>
        <source>固定 (Ctrl+P)</source>
        <translation>ピン留め (Ctrl+P)</translation>
    </message>
    <message>
        <source>取消固定 (Ctrl+P)</source>
        <translation>ピン留めを外す (Ctrl+P)</translation>
    </message>
    <message>
        <source>暂无固定的条目</source>
        <translation>ピン留めした項目はありません</translation>
    </message>
</context>
</TS>
