<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ko" sourcelanguage="zh_CN">
<context>
    <name>Nimbrel</name>
    <message>
        <source>弹出剪切板</source>
        <translation>클립보드 열기</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>설정</translation>
    </message>
    <message>
        <source>退出 Nimbrel</source>
        <translation>Nimbrel 종료</translation>
    </message>
    <message>
        <source>暂停记录</source>
        <translation>기록 일시 중지</translation>
    </message>
    <message>
        <source>清除历史记录…</source>
        <translation>기록 지우기…</translation>
    </message>
    <message>
        <source>Nimbrel：记录已暂停</source>
        <translation>Nimbrel: 기록 일시 중지됨</translation>
    </message>
    <message>
        <source>Nimbrel：记录已暂停，直到 %1</source>
        <translation>Nimbrel: %1까지 기록 일시 중지됨</translation>
    </message>
    <message>
        <source>关于 Nimbrel</source>
        <translation>Nimbrel 정보</translation>
    </message>
    <message>
        <source>关闭窗口</source>
        <translation>창 닫기</translation>
    </message>
    <message>
        <source>联系作者</source>
        <translation>개발자에게 문의</translation>
    </message>
    <message>
        <source>Nimbrel 设置</source>
        <translation>Nimbrel 설정</translation>
    </message>
    <message>
        <source>搜索</source>
        <translation>검색</translation>
    </message>
    <message>
        <source>全部</source>
        <translation>전체</translation>
    </message>
    <message>
        <source>文本</source>
        <translation>텍스트</translation>
    </message>
    <message>
        <source>图片</source>
        <translation>이미지</translation>
    </message>
    <message>
        <source>链接</source>
        <translation>링크</translation>
    </message>
    <message>
        <source>颜色</source>
        <translation>색상</translation>
    </message>
    <message>
        <source>未找到匹配项</source>
        <translation>일치하는 항목이 없습니다</translation>
    </message>
    <message>
        <source>暂无剪切板历史</source>
        <translation>아직 클립보드 기록이 없습니다</translation>
    </message>
    <message>
        <source>（空）</source>
        <translation>(비어 있음)</translation>
    </message>
    <message>
        <source>跟随系统</source>
        <translation>시스템 설정 따르기</translation>
    </message>
    <message>
        <source>常驻系统托盘 · 全局快捷键唤起 · 选中即粘贴</source>
        <translation>시스템 트레이에 상주 · 전역 단축키로 호출 · 선택하면 바로 붙여넣기</translation>
    </message>
    <message>
        <source>重启以更新</source>
        <translation>재시작하여 업데이트</translation>
    </message>
    <message>
        <source>无法自动粘贴</source>
        <translation>자동 붙여넣기를 사용할 수 없음</translation>
    </message>
    <message>
        <source>此桌面不允许模拟按键：选中的条目会放到剪贴板上，请按 Ctrl+V 粘贴。</source>
        <translation>이 데스크톱에서는 키 입력을 보낼 수 없습니다. 선택한 항목은 클립보드에 들어가니 Ctrl+V로 붙여넣으세요.</translation>
    </message>
    <message>
        <source>了解详情</source>
        <translation>자세히 알아보기</translation>
    </message>
    <message>
        <source>开机自启动</source>
        <translation>로그인 시 자동 실행</translation>
    </message>
    <message>
        <source>记录鼠标选中的文字</source>
        <translation>마우스로 선택한 텍스트 기록</translation>
    </message>
    <message>
        <source>用鼠标选中的文字无需复制即会记录。密码管理器的机密内容在剪贴板上时不记录。</source>
        <translation>마우스로 선택한 텍스트를 복사하지 않아도 기록합니다. 암호 관리자의 비밀 정보가 클립보드에 있는 동안에는 기록하지 않습니다.</translation>
    </message>
    <message>
        <source>发送首次启动报告</source>
        <translation>첫 실행 보고서 보내기</translation>
    </message>
    <message>
        <source>首次启动时发送一次：随机安装标识、系统语言和内核版本。启动时若已关闭，则永不发送。</source>
        <translation>첫 실행 시 한 번만 보냅니다: 임의의 설치 ID, 시스템 언어, 커널 버전. 실행할 때 꺼져 있으면 앞으로도 보내지 않습니다.</translation>
    </message>
    <message>
        <source>已在首次启动时发送一次，此后不再发送任何内容。</source>
        <translation>첫 실행 시 한 번 보냈습니다. 이후로는 아무것도 보내지 않습니다.</translation>
    </message>
    <message>
        <source>已拒绝：启动报告永不发送。</source>
        <translation>거부됨: 실행 보고서는 보내지 않습니다.</translation>
    </message>
    <message>
        <source>自动检查更新</source>
        <translation>자동으로 업데이트 확인</translation>
    </message>
    <message>
        <source>启动时及每 6 小时向更新服务器查询最新版本，不附带任何标识。关闭后立即停止查询。</source>
        <translation>실행 시와 6시간마다 식별 정보 없이 업데이트 서버에 최신 버전을 확인합니다. 끄면 즉시 멈춥니다.</translation>
    </message>
    <message>
        <source>此项已被软件包关闭（%1）。</source>
        <translation>패키지에서 꺼 두었습니다(%1).</translation>
    </message>
    <message>
        <source>语言</source>
        <translation>언어</translation>
    </message>
    <message>
        <source>切换后立即生效。</source>
        <translation>변경 사항은 즉시 적용됩니다.</translation>
    </message>
    <message>
        <source>弹出快捷键</source>
        <translation>패널 단축키</translation>
    </message>
    <message>
        <source>按下后立即弹出剪切板面板，建议避免和系统快捷键冲突。</source>
        <translation>누르면 바로 클립보드 패널이 열립니다. 시스템 단축키와 겹치지 않게 설정하세요.</translation>
    </message>
    <message>
        <source>弹出形态</source>
        <translation>패널 위치</translation>
    </message>
    <message>
        <source>底部</source>
        <translation>하단</translation>
    </message>
    <message>
        <source>左侧竖排</source>
        <translation>왼쪽 세로</translation>
    </message>
    <message>
        <source>右侧竖排</source>
        <translation>오른쪽 세로</translation>
    </message>
    <message>
        <source>最大占用空间</source>
        <translation>최대 저장 공간</translation>
    </message>
    <message>
        <source>%1 MB</source>
        <translation>%1 MB</translation>
    </message>
    <message>
        <source>超过容量时按时间从旧到新自动清理。所有数据只保存在本机的 %1 中。</source>
        <translation>용량을 초과하면 오래된 항목부터 자동으로 정리됩니다. 모든 데이터는 이 컴퓨터의 %1에만 저장됩니다.</translation>
    </message>
    <message>
        <source>支持 Nimbrel</source>
        <translation>Nimbrel 후원하기</translation>
    </message>
    <message>
        <source>如果 Nimbrel 帮到了你，可以请我喝杯咖啡。</source>
        <translation>Nimbrel이 도움이 되었다면 커피 한 잔 사 주세요.</translation>
    </message>
    <message>
        <source>Nimbrel</source>
        <translation>Nimbrel</translation>
    </message>
    <message>
        <source>版本 %1</source>
        <translation>버전 %1</translation>
    </message>
    <message>
        <source>record_shortcut</source>
        <translation>단축키 기록</translation>
    </message>
    <message>
        <source>press_shortcut</source>
        <translation>단축키를 누르세요</translation>
    </message>
    <message>
        <source>keyboard_shortcut_used_by_menu_item</source>
        <translation>이 단축키는 “%1” 메뉴 항목에서 이미 사용 중이므로 사용할 수 없습니다.</translation>
    </message>
    <message>
        <source>keyboard_shortcut_disallowed</source>
        <translation>시스템에서 이 단축키를 허용하지 않습니다.</translation>
    </message>
    <message>
        <source>keyboard_shortcut_used_by_system</source>
        <translation>이 단축키는 이미 시스템에서 사용 중입니다.</translation>
    </message>
    <message>
        <source>keyboard_shortcuts_can_be_changed</source>
        <translation>대부분의 시스템 단축키는 데스크톱의 키보드 설정에서 변경할 수 있습니다.</translation>
    </message>
    <message>
        <source>ok</source>
        <translation>확인</translation>
    </message>
    <message>
        <source>force_use_shortcut</source>
        <translation>그래도 사용</translation>
    </message>
    <message>
        <source>请我喝杯咖啡</source>
        <translation>커피 한 잔 사 주기</translation>
    </message>
    <message>
        <source>此桌面没有系统托盘</source>
        <translation>이 데스크톱에는 시스템 트레이가 없습니다</translation>
    </message>
    <message>
        <source>按 %1 或运行 nimbrel --toggle 打开剪切板面板；运行 nimbrel --settings 打开设置。</source>
        <translation>%1 키를 누르거나 nimbrel --toggle을 실행하면 클립보드 패널이 열립니다. 설정은 nimbrel --settings로 엽니다.</translation>
    </message>
    <message>
        <source>运行 nimbrel --toggle 打开剪切板面板；运行 nimbrel --settings 打开设置。</source>
        <translation>nimbrel --toggle을 실행하면 클립보드 패널이 열립니다. 설정은 nimbrel --settings로 엽니다.</translation>
    </message>
    <message>
        <source>桌面支持</source>
        <translation>데스크톱 지원</translation>
    </message>
    <message>
        <source>无法连接显示服务器：Nimbrel 既不能记录复制的内容，也不能显示面板。</source>
        <translation>디스플레이 서버에 연결할 수 없습니다. Nimbrel이 복사한 내용을 기록할 수도, 패널을 표시할 수도 없습니다.</translation>
    </message>
    <message>
        <source>此桌面不允许应用程序监视剪贴板：复制的内容不会被记录。</source>
        <translation>이 데스크톱은 앱이 클립보드를 지켜보도록 허용하지 않으므로 복사한 내용이 기록되지 않습니다.</translation>
    </message>
    <message>
        <source>此桌面不告知哪个应用程序在前台：记录不显示来源应用程序，也无法认出被排除的应用程序（请改为暂停记录）。</source>
        <translation>이 데스크톱은 앞에 있는 앱을 알려 주지 않으므로 기록에 출처 앱이 표시되지 않고, 제외한 앱도 알아볼 수 없습니다(대신 기록을 일시 중지하세요).</translation>
    </message>
    <message>
        <source>首次粘贴时，桌面会询问一次是否允许控制键盘（远程桌面）。</source>
        <translation>처음 붙여 넣을 때 데스크톱이 키보드 제어(원격 데스크톱) 권한을 한 번 요청합니다.</translation>
    </message>
    <message>
        <source>此桌面不向应用程序提供全局快捷键：请在桌面的键盘设置中把 nimbrel --toggle 绑定到一个按键。</source>
        <translation>이 데스크톱은 앱에 전역 단축키를 제공하지 않습니다. 키보드 설정에서 nimbrel --toggle을 키에 지정하세요.</translation>
    </message>
    <message>
        <source>快捷键是 Nimbrel 设置的 sway 按键绑定，按下按键时即生效；Nimbrel 无法得知是否有其他绑定使用同一按键。</source>
        <translation>단축키는 Nimbrel이 설정하는 sway 키 바인딩이며 키를 누르는 순간 동작합니다. 같은 키를 쓰는 다른 바인딩은 Nimbrel이 알 수 없습니다.</translation>
    </message>
    <message>
        <source>在你于下方允许后，快捷键会成为运行 nimbrel --toggle 的 GNOME 自定义快捷键；按下按键时即生效。</source>
        <translation>아래에서 허용하면 단축키가 nimbrel --toggle을 실행하는 GNOME 사용자 지정 단축키가 됩니다. 키를 누르는 순간 동작합니다.</translation>
    </message>
    <message>
        <source>面板以普通窗口打开，打开期间会占用键盘。</source>
        <translation>패널은 일반 창으로 열리며, 열려 있는 동안 키보드 입력을 받습니다.</translation>
    </message>
    <message>
        <source>添加 GNOME 快捷键</source>
        <translation>GNOME 단축키 추가</translation>
    </message>
    <message>
        <source>已添加到 GNOME 的键盘设置中。</source>
        <translation>GNOME 키보드 설정에 추가했습니다.</translation>
    </message>
    <message>
        <source>排除的应用</source>
        <translation>제외된 앱</translation>
    </message>
    <message>
        <source>尚未排除任何应用。</source>
        <translation>제외된 앱이 없습니다.</translation>
    </message>
    <message>
        <source>这些应用在前台时复制的内容一律不读取。标记了复制内容的密码管理器始终不记录。</source>
        <translation>이 앱들이 앞에 있을 때 복사한 내용은 읽지 않습니다. 복사한 내용에 표시를 하는 비밀번호 관리자는 항상 기록하지 않습니다.</translation>
    </message>
    <message>
        <source>添加</source>
        <translation>추가</translation>
    </message>
    <message>
        <source>添加排除的应用</source>
        <translation>제외할 앱 추가</translation>
    </message>
    <message>
        <source>移除 %1</source>
        <translation>%1 제거</translation>
    </message>
    <message>
        <source>没有其他正在运行的应用</source>
        <translation>실행 중인 다른 앱이 없습니다</translation>
    </message>
    <message>
        <source>输入桌面 ID 或窗口类…</source>
        <translation>데스크톱 ID 또는 창 클래스 입력…</translation>
    </message>
    <message>
        <source>排除应用</source>
        <translation>앱 제외</translation>
    </message>
    <message>
        <source>桌面 ID（如 org.gnome.TextEditor）或窗口类（如 XTerm）：</source>
        <translation>데스크톱 ID(예: org.gnome.TextEditor) 또는 창 클래스(예: XTerm):</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>취소</translation>
    </message>
    <message>
        <source>历史记录为空。</source>
        <translation>기록이 비어 있습니다.</translation>
    </message>
    <message>
        <source>置顶记录占用 %1，已超过最大占用空间 %2。置顶记录会全部保留，因此其他记录都不会保留。</source>
        <translation>고정된 항목이 %1을(를) 차지해 최대 저장 공간 %2을(를) 넘었습니다. 고정된 항목은 모두 보존되므로 다른 항목은 보존되지 않습니다.</translation>
    </message>
    <message>
        <source>清除历史记录</source>
        <translation>기록 지우기</translation>
    </message>
    <message>
        <source>要清除剪贴板历史吗？</source>
        <translation>클립보드 기록을 지우시겠습니까?</translation>
    </message>
    <message>
        <source>历史中有 1 条记录，占用 %1。</source>
        <translation>기록에 항목 1개가 있으며 %1을(를) 차지합니다.</translation>
    </message>
    <message>
        <source>历史中有 %1 条记录，占用 %2。</source>
        <translation>기록에 항목 %1개가 있으며 %2을(를) 차지합니다.</translation>
    </message>
    <message>
        <source>此操作无法撤销。</source>
        <translation>이 작업은 되돌릴 수 없습니다.</translation>
    </message>
    <message>
        <source>同时删除 1 条置顶记录（%1）</source>
        <translation>고정된 항목 1개도 삭제(%1)</translation>
    </message>
    <message>
        <source>同时删除 %1 条置顶记录（%2）</source>
        <translation>고정된 항목 %1개도 삭제(%2)</translation>
    </message>
    <message>
        <source>清除</source>
        <translation>지우기</translation>
    </message>
    <message>
        <source>已固定</source>
        <translation>고정됨</translation>
    </message>
    <message>
        <source>固定 (Ctrl+P)</source>
        <translation>고정 (Ctrl+P)</translation>
    </message>
    <message>
        <source>取消固定 (Ctrl+P)</source>
        <translation>고정 해제 (Ctrl+P)</translation>
    </message>
    <message>
        <source>暂无固定的条目</source>
        <translation>고정된 항목이 없습니다</translation>
    </message>
</context>
</TS>
