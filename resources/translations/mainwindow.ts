<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>MainWindow</name>
    <message>
        <source>Recent file</source>
        <translation>最近文件</translation>
    </message>
    <message>
        <source>   Model     ◢</source>
        <translation>   模型        ◢</translation>
    </message>
    <message>
        <source>   Move      ◢</source>
        <translation>   移动        ◢</translation>
    </message>
    <message>
        <source>   Rotate    ◢</source>
        <translation>   旋转        ◢</translation>
    </message>
    <message>
        <source>   Scale      ◢</source>
        <translation>   缩放        ◢</translation>
    </message>
    <message>
        <source>   Cut          ◢</source>
        <translation>   切割        ◢</translation>
    </message>
    <message>
        <source>   Support  ◢</source>
        <translation>   支撑        ◢</translation>
    </message>
    <message>
        <source>Print Slice</source>
        <translation>打印切片</translation>
    </message>
    <message>
        <source>Print local file</source>
        <translation>打印本地文件</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>已连接</translation>
    </message>
    <message>
        <source>Not Connected</source>
        <translation>未连接</translation>
    </message>
    <message>
        <source>Loading Model</source>
        <translation>正在加载模型</translation>
    </message>
    <message>
        <source>Analyzing Model</source>
        <translation>正在分析模型</translation>
    </message>
    <message>
        <source>Slicing</source>
        <translation>正在切片</translation>
    </message>
    <message>
        <source>Importing to SD card</source>
        <translation>正在导入SD卡</translation>
    </message>
    <message>
        <source>Wait for completing</source>
        <translation>等待完成</translation>
    </message>
    <message>
        <source>No Task</source>
        <translation>无任务</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>Cutting</source>
        <translation>正在切割</translation>
    </message>
    <message>
        <source>Open File</source>
        <translation>打开文件</translation>
    </message>
    <message>
        <source>Model files (*.stl *.obj *.3mf *.brev *.BVT *.bmp *.png *.jpg)</source>
        <translation>模型文件 (*.stl *.obj *.3mf *.brev *.BVT *.bmp *.png *.jpg)</translation>
    </message>
    <message>
        <source>Brevant</source>
        <translation>Brevant</translation>
    </message>
    <message>
        <source>About</source>
        <translation>关于</translation>
    </message>
    <message>
        <source>Check For Tarni</source>
        <translation>检查更新</translation>
    </message>
    <message>
        <source>Machine info</source>
        <translation>机器信息</translation>
    </message>
    <message>
        <source>Select Printer</source>
        <translation>选择打印机</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>帮助</translation>
    </message>
    <message>
        <source>Model Library</source>
        <translation>模型库</translation>
    </message>
    <message>
        <source>Guide</source>
        <translation>向导</translation>
    </message>
    <message>
        <source>Save File</source>
        <translation>保存文件</translation>
    </message>
    <message>
        <source>Export Gcode</source>
        <translation>导出Gcode</translation>
    </message>
    <message>
        <source>Switch preview</source>
        <translation>切换预览</translation>
    </message>
    <message>
        <source>Language Setting</source>
        <translation>语言设置</translation>
    </message>
    <message>
        <source>Setting</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>100</source>
        <translation>100</translation>
    </message>
    <message>
        <source>Layer</source>
        <translation>层</translation>
    </message>
    <message>
        <source>Type：</source>
        <translation>型号：</translation>
    </message>
    <message>
        <source>Size:</source>
        <translation>尺寸:</translation>
    </message>
    <message>
        <source>System Status：</source>
        <translation>系统状态：</translation>
    </message>
    <message>
        <source>Auto Support</source>
        <translation>自动支撑</translation>
    </message>
    <message>
        <source>Import Model</source>
        <translation>导入模型</translation>
    </message>
    <message>
        <source>Save GCode</source>
        <translation>保存 GCode</translation>
    </message>
    <message>
        <source>3D Model File(*.stl;*.obj;*.brev;*.png;*.bmp;*.jpg;*.3mf;*.BVT)</source>
        <translation>3D 模型文件(*.stl;*.obj;*.brev;*.png;*.bmp;*.jpg;*.3mf;*.BVT)</translation>
    </message>
    <message>
        <source>Brevant File (*.brev)</source>
        <translation>Brevant 文件 (*.brev)</translation>
    </message>
    <message>
        <source>Brevant File (*.BVT)</source>
        <translation>Brevant 文件 (*.BVT)</translation>
    </message>
</context>
</TS>
