<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>AboutDialog</name>
    <message>
        <source>About</source>
        <translation>关于</translation>
    </message>
    <message>
        <source>About Tarni</source>
        <translation>关于 Tarni</translation>
    </message>
    <message>
        <source>Tarni Soft</source>
        <translation>Tarni 软件</translation>
    </message>
</context>
<context>
    <name>BVViewPortClass</name>
    <message>
        <source>BVViewPort</source>
        <translation>视角</translation>
    </message>
    <message>
        <source>Front View</source>
        <translation>前视图</translation>
    </message>
    <message>
        <source>Left View</source>
        <translation>左视图</translation>
    </message>
    <message>
        <source>Default View</source>
        <translation>默认视图</translation>
    </message>
    <message>
        <source>Right View</source>
        <translation>右视图</translation>
    </message>
    <message>
        <source>Back View</source>
        <translation>后视图</translation>
    </message>
</context>
<context>
    <name>ChoiceTypeDialog</name>
    <message>
        <source>About</source>
        <translation>关于</translation>
    </message>
    <message>
        <source>Printer Selection</source>
        <translation>机型选择</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
</context>
<context>
    <name>PictureSetting</name>
    <message>
        <source>Dialog</source>
        <translation>对话框</translation>
    </message>
    <message>
        <source>PictureSetting</source>
        <translation>图片设置</translation>
    </message>
    <message>
        <source>Mode:</source>
        <translation>模式：</translation>
    </message>
    <message>
        <source>Thickness of the lighter area</source>
        <translation>亮部较厚</translation>
    </message>
    <message>
        <source>Thickness of the dark area</source>
        <translation>暗部较厚</translation>
    </message>
    <message>
        <source>Base Thickness:</source>
        <translation>底座厚度：</translation>
    </message>
    <message>
        <source>Datum Thickness:</source>
        <translation>浮雕厚度：</translation>
    </message>
    <message>
        <source>Length:</source>
        <translation>长度：</translation>
    </message>
    <message>
        <source>Width:</source>
        <translation>宽度：</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
</context>
<context>
    <name>Wizard</name>
    <message>
        <source>Next</source>
        <translation>下一步</translation>
    </message>
    <message>
        <source>Finish</source>
        <translation>完成</translation>
    </message>
</context>
</TS>
