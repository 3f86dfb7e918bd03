<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>BVSettingWindow</name>
    <message>
        <source>Fail to save the file!</source>
        <translation>保存文件失败！</translation>
    </message>
    <message>
        <source>NO</source>
        <translation>否</translation>
    </message>
    <message>
        <source>YES</source>
        <translation>是</translation>
    </message>
    <message>
        <source>ROD</source>
        <translation>柱状</translation>
    </message>
    <message>
        <source>TREE</source>
        <translation>树状</translation>
    </message>
    <message>
        <source>CELLULAR</source>
        <translation>蜂窝</translation>
    </message>
    <message>
        <source>GRID</source>
        <translation>网格</translation>
    </message>
    <message>
        <source>Stop Feeding...</source>
        <translation>正在停止进料...</translation>
    </message>
    <message>
        <source>Stop Returning...</source>
        <translation>正在停止退料...</translation>
    </message>
    <message>
        <source>Feed Material...</source>
        <translation>正在进料...</translation>
    </message>
    <message>
        <source>Returning...</source>
        <translation>正在退料...</translation>
    </message>
</context>
<context>
    <name>BVSettingWindowClass</name>
    <message>
        <source>Setting</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>Machine Control</source>
        <translation>机器控制</translation>
    </message>
    <message>
        <source>Change Materials</source>
        <translation>更换耗材</translation>
    </message>
    <message>
        <source>Advanced Setting</source>
        <translation>高级设置</translation>
    </message>
    <message>
        <source>X/Y step (mm)</source>
        <translation>X/Y 步长 (mm)</translation>
    </message>
    <message>
        <source>Z step (mm)</source>
        <translation>Z 步长 (mm)</translation>
    </message>
    <message>
        <source>Leveling control</source>
        <translation>调平控制</translation>
    </message>
    <message>
        <source>Leveling</source>
        <translation>调平</translation>
    </message>
    <message>
        <source>The leveling parameter is the clearance between the model and bottom plate. If the model cannot 
be removed easily, increase the value and vice versa.</source>
        <translation>调平参数是模型与底板之间的间隙。如果模型不易取下，
请增大该值，反之则减小。</translation>
    </message>
    <message>
        <source>Leveling Start</source>
        <translation>开始调平</translation>
    </message>
    <message>
        <source>Limit Control</source>
        <translation>限位控制</translation>
    </message>
    <message>
        <source>Confirm Active or not</source>
        <translation>是否启用</translation>
    </message>
    <message>
        <source>Yes: If the door limit switch is active while printing, opening the door will pause the printing; 
No: If the door limit switch is inactive while printing, opening the door would not pause the 
printing.</source>
        <translation>是：打印时门限位开关启用，开门将暂停打印；
否：打印时门限位开关不启用，开门不会暂停
打印。</translation>
    </message>
    <message>
        <source>apply</source>
        <translation>应用</translation>
    </message>
    <message>
        <source>Feed Material </source>
        <translation>进料 </translation>
    </message>
    <message>
        <source>Rejected Material</source>
        <translation>退料</translation>
    </message>
    <message>
        <source>Temp:</source>
        <translation>温度:</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>停止</translation>
    </message>
    <message>
        <source>Low</source>
        <translation>低</translation>
    </message>
    <message>
        <source>Mid</source>
        <translation>中</translation>
    </message>
    <message>
        <source>High</source>
        <translation>高</translation>
    </message>
    <message>
        <source>Having Support or not</source>
        <translation>是否添加支撑</translation>
    </message>
    <message>
        <source>Support Structure</source>
        <translation>支撑结构</translation>
    </message>
    <message>
        <source>Support Angle</source>
        <translation>支撑角度</translation>
    </message>
    <message>
        <source>Support Fill Density</source>
        <translation>支撑填充密度</translation>
    </message>
    <message>
        <source>Printing Model Pad</source>
        <translation>打印底垫</translation>
    </message>
    <message>
        <source>Filling Pattern</source>
        <translation>填充样式</translation>
    </message>
    <message>
        <source>Filling Density</source>
        <translation>填充密度</translation>
    </message>
    <message>
        <source>Z Hop Retracting</source>
        <translation>回抽时抬升 Z</translation>
    </message>
    <message>
        <source>First Layer Clearance</source>
        <translation>首层间隙</translation>
    </message>
    <message>
        <source>Printing Temperature</source>
        <translation>打印温度</translation>
    </message>
    <message>
        <source>Use Heatingbed</source>
        <translation>使用热床</translation>
    </message>
    <message>
        <source>Reset</source>
        <translation>重置</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>确认</translation>
    </message>
</context>
<context>
    <name>PrintMessageForm</name>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
    <message>
        <source>Print Time:</source>
        <translation>打印时间:</translation>
    </message>
    <message>
        <source>Materials:</source>
        <translation>耗材:</translation>
    </message>
</context>
<context>
    <name>PrintingForm</name>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
    <message>
        <source>State:</source>
        <translation>状态:</translation>
    </message>
    <message>
        <source>Temp:</source>
        <translation>温度:</translation>
    </message>
    <message>
        <source>BedTemp:</source>
        <translation>热床温度:</translation>
    </message>
    <message>
        <source>Progress:</source>
        <translation>进度:</translation>
    </message>
    <message>
        <source>Ctrl:</source>
        <translation>控制:</translation>
    </message>
    <message>
        <source>Printing</source>
        <translation>打印中</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>暂停</translation>
    </message>
    <message>
        <source>Wait Stop</source>
        <translation>等待停止</translation>
    </message>
</context>
</TS>
