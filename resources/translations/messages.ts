<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>BrevMessageBox</name>
    <message>
        <source>Error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>No</source>
        <translation>否</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>是</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Computer graphics driver  version is low!</source>
        <translation>电脑显卡驱动版本过低！</translation>
    </message>
    <message>
        <source>Fail to open the file!</source>
        <translation>打开文件失败！</translation>
    </message>
    <message>
        <source>Fail to slice</source>
        <translation>切片失败</translation>
    </message>
    <message>
        <source>Switch To The Correct Machine</source>
        <translation>请切换到正确的机型</translation>
    </message>
    <message>
        <source>Some models are beyond the printing area!</source>
        <translation>有模型超出打印区域！</translation>
    </message>
    <message>
        <source>Stop sending printing file?</source>
        <translation>停止发送打印文件？</translation>
    </message>
    <message>
        <source>Do you want to cancel print?</source>
        <translation>确定要取消打印吗？</translation>
    </message>
    <message>
        <source>Do you want to cancel slice?</source>
        <translation>确定要取消切片吗？</translation>
    </message>
    <message>
        <source>Pause Printing?</source>
        <translation>暂停打印？</translation>
    </message>
    <message>
        <source>Restore The Print?</source>
        <translation>恢复打印？</translation>
    </message>
    <message>
        <source>Delete All Support?</source>
        <translation>删除全部支撑？</translation>
    </message>
    <message>
        <source>Leveling distance is beyond range!</source>
        <translation>调平距离超出范围！</translation>
    </message>
    <message>
        <source>The number of models has reached the upper limit!</source>
        <translation>模型数量已达上限！</translation>
    </message>
    <message>
        <source>Fail to download Tarni.exe!</source>
        <translation>下载 Tarni.exe 失败！</translation>
    </message>
    <message>
        <source>Close project and load Brev file?</source>
        <translation>关闭当前工程并加载 Brev 文件？</translation>
    </message>
    <message>
        <source>Close the current project and load Brev file?</source>
        <translation>关闭当前工程并加载 Brev 文件？</translation>
    </message>
    <message>
        <source>Saved as Brev file?</source>
        <translation>是否保存为 Brev 文件？</translation>
    </message>
    <message>
        <source>Do you want to quit supporting mode?</source>
        <translation>确定要退出支撑模式吗？</translation>
    </message>
    <message>
        <source>The operation will erase all slice data!</source>
        <translation>此操作将清除全部切片数据！</translation>
    </message>
    <message>
        <source>Before editing the model, delete the support?</source>
        <translation>编辑模型前，是否删除支撑？</translation>
    </message>
    <message>
        <source>Slicing, Save or not?</source>
        <translation>正在切片，是否保存？</translation>
    </message>
    <message>
        <source>Sending Gcode, can&apos;t exit?</source>
        <translation>正在发送打印文件，不能退出！</translation>
    </message>
    <message>
        <source>Sending Gcode, exit</source>
        <translation>正在发送打印文件，退出</translation>
    </message>
    <message>
        <source>The Firmware Cannot be Updated</source>
        <translation>固件无法更新</translation>
    </message>
    <message>
        <source>Stop download Tarni?</source>
        <translation>停止下载 Tarni？</translation>
    </message>
    <message>
        <source>Fail to upgrade the firmware</source>
        <translation>固件升级失败</translation>
    </message>
    <message>
        <source>Printing file successfully exported!</source>
        <translation>打印文件导出成功！</translation>
    </message>
    <message>
        <source>Slice finished, start to send printing file?</source>
        <translation>切片完成，开始发送打印文件？</translation>
    </message>
    <message>
        <source>Put Model On The Platform?</source>
        <translation>将模型放到平台上？</translation>
    </message>
    <message>
        <source>Cutting Failure!</source>
        <translation>切割失败！</translation>
    </message>
    <message>
        <source>The model name is over 50 characters!</source>
        <translation>模型名称超过 50 个字符！</translation>
    </message>
    <message>
        <source>Fail to generate supporting automatically!</source>
        <translation>自动生成支撑失败！</translation>
    </message>
    <message>
        <source>Fail to open!</source>
        <translation>打开失败！</translation>
    </message>
    <message>
        <source>Start to send printing file?</source>
        <translation>开始发送打印文件？</translation>
    </message>
    <message>
        <source>Saving Brev file succeed!</source>
        <translation>保存 Brev 文件成功！</translation>
    </message>
    <message>
        <source>file does not exist!</source>
        <translation>文件不存在！</translation>
    </message>
    <message>
        <source>Send finished,do you want to print?</source>
        <translation>发送完成，是否开始打印？</translation>
    </message>
    <message>
        <source>do you want to print?</source>
        <translation>是否开始打印？</translation>
    </message>
    <message>
        <source>Do you want to exit the slice preview?</source>
        <translation>确定要退出切片预览吗？</translation>
    </message>
    <message>
        <source>Model too large, whether scaling?</source>
        <translation>模型过大，是否缩放？</translation>
    </message>
    <message>
        <source>Printing is completed!</source>
        <translation>打印完成！</translation>
    </message>
    <message>
        <source>Beyond the cutting range!</source>
        <translation>超出切割范围！</translation>
    </message>
    <message>
        <source>Would you like to download the new version of %1 software?</source>
        <translation>是否下载新版本的 %1 软件？</translation>
    </message>
    <message>
        <source>No Update</source>
        <translation>没有更新</translation>
    </message>
    <message>
        <source>New version of firmware for PX5 is available</source>
        <translation>PX5 有新版本固件可用</translation>
    </message>
    <message>
        <source>New version of firmware for PX6 is available</source>
        <translation>PX6 有新版本固件可用</translation>
    </message>
    <message>
        <source>firmware Updating Succeed!</source>
        <translation>固件升级成功！</translation>
    </message>
    <message>
        <source>Whether To Start Feeding</source>
        <translation>是否开始进料</translation>
    </message>
    <message>
        <source>Whether To Start Returning</source>
        <translation>是否开始退料</translation>
    </message>
    <message>
        <source>Whether To Stop</source>
        <translation>是否停止</translation>
    </message>
    <message>
        <source>Feeding Succeed</source>
        <translation>进料成功</translation>
    </message>
    <message>
        <source>Returning Succeed</source>
        <translation>退料成功</translation>
    </message>
    <message>
        <source>Leveling Complete</source>
        <translation>调平完成</translation>
    </message>
    <message>
        <source>Leveling Fail</source>
        <translation>调平失败</translation>
    </message>
    <message>
        <source>Resetting the language requires to restart</source>
        <translation>切换语言需要重启软件</translation>
    </message>
    <message>
        <source>Support model cannot be deleted!</source>
        <translation>支撑模型不能删除！</translation>
    </message>
    <message>
        <source>Printer busy,unable to connect.</source>
        <translation>打印机忙，无法连接。</translation>
    </message>
    <message>
        <source>Printer connection error.</source>
        <translation>打印机连接错误。</translation>
    </message>
    <message>
        <source>Fail to read the print file.</source>
        <translation>读取打印文件失败。</translation>
    </message>
    <message>
        <source>Insufficient SD card storage.</source>
        <translation>SD 卡存储空间不足。</translation>
    </message>
    <message>
        <source>Fail to sent print file.</source>
        <translation>发送打印文件失败。</translation>
    </message>
    <message>
        <source>Failure to adjust the level.</source>
        <translation>调平失败。</translation>
    </message>
    <message>
        <source>ERR_TrayFail</source>
        <translation>进退料失败</translation>
    </message>
    <message>
        <source>Printer is printing.</source>
        <translation>打印机正在打印。</translation>
    </message>
    <message>
        <source>Please check the door is closed.</source>
        <translation>请检查舱门是否关闭。</translation>
    </message>
    <message>
        <source>No materials! Please refill immediately</source>
        <translation>耗材用尽！请立即补充</translation>
    </message>
    <message>
        <source>SD card error(not exist or no file)</source>
        <translation>SD 卡错误（不存在或无文件）</translation>
    </message>
    <message>
        <source>SD card error</source>
        <translation>SD 卡错误</translation>
    </message>
    <message>
        <source>SD card error(no file)</source>
        <translation>SD 卡错误（无文件）</translation>
    </message>
    <message>
        <source>SD card error(file incomplete)</source>
        <translation>SD 卡错误（文件不完整）</translation>
    </message>
    <message>
        <source>Communication error</source>
        <translation>通讯错误</translation>
    </message>
    <message>
        <source>Abnormal Temperature</source>
        <translation>温度异常</translation>
    </message>
    <message>
        <source>Limit switch fault!</source>
        <translation>限位开关故障！</translation>
    </message>
    <message>
        <source>Leveling limit switch fault</source>
        <translation>调平限位开关故障</translation>
    </message>
    <message>
        <source>Uneven Plate</source>
        <translation>平台不平</translation>
    </message>
    <message>
        <source>Beyond the print area</source>
        <translation>超出打印区域</translation>
    </message>
    <message>
        <source>Fail to leveling</source>
        <translation>调平失败</translation>
    </message>
    <message>
        <source>Bed temp is too high</source>
        <translation>热床温度过高</translation>
    </message>
    <message>
        <source>Bed heating timeout</source>
        <translation>热床加热超时</translation>
    </message>
    <message>
        <source>Bed sensor anomaly</source>
        <translation>热床传感器异常</translation>
    </message>
</context>
<context>
    <name>BrevMessageBoxClass</name>
    <message>
        <source>BrevMessageBox</source>
        <translation>消息框</translation>
    </message>
    <message>
        <source>prompt</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>prompt info</source>
        <translation>提示信息</translation>
    </message>
    <message>
        <source>ok</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>no</source>
        <translation>否</translation>
    </message>
    <message>
        <source>cancel</source>
        <translation>取消</translation>
    </message>
</context>
<context>
    <name>ThreadPool</name>
    <message>
        <source>Fail to save the file!</source>
        <translation>保存文件失败！</translation>
    </message>
</context>
<context>
    <name>ThreeMFReader</name>
    <message>
        <source>The file is not a 3MF archive.</source>
        <translation>该文件不是 3MF 压缩包。</translation>
    </message>
    <message>
        <source>The archive holds no 3D model.</source>
        <translation>压缩包中没有三维模型。</translation>
    </message>
    <message>
        <source>The archive is damaged.</source>
        <translation>压缩包已损坏。</translation>
    </message>
    <message>
        <source>The 3D model is not well-formed XML.</source>
        <translation>三维模型不是格式正确的 XML。</translation>
    </message>
    <message>
        <source>A triangle of the model refers to a vertex that does not exist.</source>
        <translation>模型中有三角形引用了不存在的顶点。</translation>
    </message>
    <message>
        <source>The model holds a coordinate or transform that cannot be used.</source>
        <translation>模型中有无法使用的坐标或变换。</translation>
    </message>
    <message>
        <source>The model&apos;s components refer to each other in a loop or nest too deeply.</source>
        <translation>模型的组件循环引用或嵌套过深。</translation>
    </message>
    <message>
        <source>The model places no mesh with triangles.</source>
        <translation>模型中没有可放置的三角网格。</translation>
    </message>
    <message>
        <source>The model is too large for this computer.</source>
        <translation>模型过大，本机内存无法容纳。</translation>
    </message>
    <message>
        <source>There is not enough memory to load the model.</source>
        <translation>内存不足，无法载入模型。</translation>
    </message>
    <message>
        <source>The model places object &quot;%1&quot;, which it does not hold.</source>
        <translation>模型放置了对象“%1”，但文件中没有该对象。</translation>
    </message>
    <message>
        <source>The model places object &quot;%1&quot;, which is not a model (its type is &quot;other&quot;).</source>
        <translation>模型放置了对象“%1”，但它不是模型（类型为“other”）。</translation>
    </message>
    <message>
        <source>The model holds two objects with the id &quot;%1&quot;.</source>
        <translation>模型中有两个对象的编号都是“%1”。</translation>
    </message>
    <message>
        <source>The model needs a 3MF extension this program cannot read: %1.</source>
        <translation>模型需要本程序无法读取的 3MF 扩展：%1。</translation>
    </message>
    <message>
        <source>The model places objects from another part of the archive, which this program cannot read.</source>
        <translation>模型放置了压缩包中其他部分的对象，本程序无法读取。</translation>
    </message>
    <message>
        <source>The model places more than %1 components and items.</source>
        <translation>模型放置的组件和项目超过 %1 个。</translation>
    </message>
</context>
<context>
    <name>ImageRelief</name>
    <message>
        <source>The relief would need more than %1 million points.</source>
        <translation>浮雕需要超过 %1 百万个点。</translation>
    </message>
    <message>
        <source>The picture cannot be read.</source>
        <translation>无法读取该图片。</translation>
    </message>
    <message>
        <source>Pictures of more than %1 million pixels can be opened as PNG (not interlaced) or JPEG only.</source>
        <translation>超过 %1 百万像素的图片只能以 PNG（非隔行）或 JPEG 格式打开。</translation>
    </message>
    <message>
        <source>The picture cannot be read: it ends before all its pixels.</source>
        <translation>无法读取该图片：文件不完整，缺少部分像素。</translation>
    </message>
    <message>
        <source>The picture cannot be read: its data is damaged.</source>
        <translation>无法读取该图片：数据已损坏。</translation>
    </message>
    <message>
        <source>A picture of %1 x %2 pixels makes a relief of %3 x %4 cells; it needs at least 2 x 2.</source>
        <translation>%1 x %2 像素的图片只能生成 %3 x %4 个单元的浮雕，至少需要 2 x 2 个。</translation>
    </message>
    <message>
        <source>The picture would need more than %1 MB of memory to open.</source>
        <translation>打开该图片需要超过 %1 MB 内存。</translation>
    </message>
</context>
<context>
    <name>SceneBudget</name>
    <message>
        <source>The file holds %1 models; at most %2 fit on the plate.</source>
        <translation>该文件包含 %1 个模型，平台上最多只能放 %2 个。</translation>
    </message>
    <message>
        <source>The plate holds %1 models and the file %2 more; at most %3 fit on the plate.</source>
        <translation>平台上已有 %1 个模型，该文件还要再加 %2 个，平台上最多只能放 %3 个。</translation>
    </message>
    <message>
        <source>The model reaches %1 mm from the origin; a printer can use at most %2 mm.</source>
        <translation>模型距原点达 %1 毫米，打印机最多只能使用 %2 毫米。</translation>
    </message>
    <message>
        <source>A model scaled by %1 would be %2 mm long; a printer can use at most %3 mm.</source>
        <translation>模型缩放 %1 倍后长 %2 毫米，打印机最多只能使用 %3 毫米。</translation>
    </message>
    <message>
        <source>The supports would be %1 mm wide; a printer can use at most %2 mm.</source>
        <translation>支撑宽度为 %1 毫米，打印机最多只能使用 %2 毫米。</translation>
    </message>
</context>
<context>
    <name>FileReaderWriter</name>
    <message>
        <source>The file cannot be opened.</source>
        <translation>无法打开该文件。</translation>
    </message>
    <message>
        <source>The file holds no triangles that can be used.</source>
        <translation>该文件中没有可用的三角形。</translation>
    </message>
    <message>
        <source>The file holds a coordinate that is not a number.</source>
        <translation>该文件中有不是数字的坐标。</translation>
    </message>
    <message>
        <source>The file holds more than %1 triangles.</source>
        <translation>该文件的三角形超过 %1 个。</translation>
    </message>
</context>
<context>
    <name>ProjectFile</name>
    <message>
        <source>The file cannot be opened.</source>
        <translation>无法打开该文件。</translation>
    </message>
    <message>
        <source>The file is not a project of this program.</source>
        <translation>该文件不是本程序的工程文件。</translation>
    </message>
    <message>
        <source>The project file is damaged or cut short.</source>
        <translation>工程文件已损坏或不完整。</translation>
    </message>
    <message>
        <source>The project is too large for this computer.</source>
        <translation>工程过大，本机内存无法容纳。</translation>
    </message>
</context>
<context>
    <name>CheckedWriter</name>
    <message>
        <source>Cannot write %1: %2</source>
        <translation>无法写入 %1：%2</translation>
    </message>
    <message>
        <source>Cannot read %1: %2</source>
        <translation>无法读取 %1：%2</translation>
    </message>
    <message>
        <source>it is not a plain file</source>
        <translation>它不是普通文件</translation>
    </message>
    <message>
        <source>the settings could not be saved</source>
        <translation>无法保存设置</translation>
    </message>
</context>
<context>
    <name>FDMSliceProcess</name>
    <message>
        <source>The slicing engine %1 is missing.</source>
        <translation>切片引擎 %1 不存在。</translation>
    </message>
    <message>
        <source>The slicing engine %1 cannot be started: %2</source>
        <translation>无法启动切片引擎 %1：%2</translation>
    </message>
    <message>
        <source>The slicing engine stopped: %1</source>
        <translation>切片引擎已停止：%1</translation>
    </message>
</context>
</TS>
