<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1">
<context>
    <name>CutModelWidget</name>
    <message>
        <location filename="../../cutting/CutModelWidget.cpp" line="102"/>
        <source>Cut</source>
        <translation>切割</translation>
    </message>
    <message>
        <location filename="../../cutting/CutModelWidget.cpp" line="106"/>
        <source>Distance:</source>
        <translation>距离:</translation>
    </message>
    <message>
        <location filename="../../cutting/CutModelWidget.cpp" line="107"/>
        <source>mm</source>
        <translation>mm</translation>
    </message>
    <message>
        <location filename="../../cutting/CutModelWidget.cpp" line="108"/>
        <location filename="../../cutting/CutModelWidget.cpp" line="169"/>
        <location filename="../../cutting/CutModelWidget.cpp" line="199"/>
        <location filename="../../cutting/CutModelWidget.cpp" line="235"/>
        <location filename="../../cutting/CutModelWidget.cpp" line="243"/>
        <source>Ready cut</source>
        <translation>准备切割</translation>
    </message>
    <message>
        <location filename="../../cutting/CutModelWidget.cpp" line="109"/>
        <source>Start cut</source>
        <translation>开始切割</translation>
    </message>
    <message>
        <location filename="../../cutting/CutModelWidget.cpp" line="165"/>
        <location filename="../../cutting/CutModelWidget.cpp" line="235"/>
        <source>exit cut</source>
        <translation>退出切割</translation>
    </message>
</context>
<context>
    <name>ManualSupportWidget</name>
    <message>
        <location filename="../../support/ManualSupportWidget.cpp" line="123"/>
        <source>Size:</source>
        <translation>尺寸:</translation>
    </message>
    <message>
        <location filename="../../support/ManualSupportWidget.cpp" line="124"/>
        <source>mm</source>
        <translation>mm</translation>
    </message>
    <message>
        <location filename="../../support/ManualSupportWidget.cpp" line="125"/>
        <source>Angel:</source>
        <translation>角度:</translation>
    </message>
    <message>
        <location filename="../../support/ManualSupportWidget.cpp" line="128"/>
        <location filename="../../support/ManualSupportWidget.cpp" line="261"/>
        <source>Quit Adding</source>
        <translation>退出添加</translation>
    </message>
    <message>
        <location filename="../../support/ManualSupportWidget.cpp" line="129"/>
        <location filename="../../support/ManualSupportWidget.cpp" line="240"/>
        <source>Add Support</source>
        <translation>添加支撑</translation>
    </message>
    <message>
        <location filename="../../support/ManualSupportWidget.cpp" line="130"/>
        <source>Delete Support</source>
        <translation>删除支撑</translation>
    </message>
    <message>
        <location filename="../../support/ManualSupportWidget.cpp" line="131"/>
        <source>Auto Generating</source>
        <translation>自动生成</translation>
    </message>
    <message>
        <location filename="../../support/ManualSupportWidget.cpp" line="132"/>
        <source>Delete All</source>
        <translation>全部删除</translation>
    </message>
</context>
<context>
    <name>ModelListWidget</name>
    <message>
        <location filename="../../UI/ModelListWidget.cpp" line="158"/>
        <source>Hide Model</source>
        <translation>隐藏模型</translation>
    </message>
    <message>
        <location filename="../../UI/ModelListWidget.cpp" line="158"/>
        <source>Show Model</source>
        <translation>显示模型</translation>
    </message>
</context>
<context>
    <name>MoveModelWidget</name>
    <message>
        <location filename="../../UI/MoveModelWidget.cpp" line="68"/>
        <source>mm</source>
        <translation>mm</translation>
    </message>
    <message>
        <location filename="../../UI/MoveModelWidget.cpp" line="69"/>
        <source>Center</source>
        <translation>居中</translation>
    </message>
    <message>
        <location filename="../../UI/MoveModelWidget.cpp" line="70"/>
        <source>Reset</source>
        <translation>复位</translation>
    </message>
    <message>
        <location filename="../../UI/MoveModelWidget.cpp" line="71"/>
        <source>Set Plate</source>
        <translation>放到平台</translation>
    </message>
</context>
<context>
    <name>RotateModelWidget</name>
    <message>
        <location filename="../../UI/RotateModelWidget.cpp" line="110"/>
        <source>Rotate along X axis 270°</source>
        <translation>绕X轴旋转270°</translation>
    </message>
    <message>
        <location filename="../../UI/RotateModelWidget.cpp" line="111"/>
        <source>Rotate along Y axis 90°</source>
        <translation>绕Y轴旋转90°</translation>
    </message>
    <message>
        <location filename="../../UI/RotateModelWidget.cpp" line="112"/>
        <source>Rotate along Y axis 180°</source>
        <translation>绕Y轴旋转180°</translation>
    </message>
    <message>
        <location filename="../../UI/RotateModelWidget.cpp" line="113"/>
        <source>Rotate along X axis 90°</source>
        <translation>绕X轴旋转90°</translation>
    </message>
    <message>
        <location filename="../../UI/RotateModelWidget.cpp" line="114"/>
        <source>Rotate along Y axis 270°</source>
        <translation>绕Y轴旋转270°</translation>
    </message>
    <message>
        <location filename="../../UI/RotateModelWidget.cpp" line="115"/>
        <source>Reset</source>
        <translation>复位</translation>
    </message>
</context>
<context>
    <name>ScaleModelWidget</name>
    <message>
        <location filename="../../UI/ScaleModelWidget.cpp" line="81"/>
        <source>mm</source>
        <translation>mm</translation>
    </message>
</context>
</TS>
