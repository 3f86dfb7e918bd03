<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>Downloader</name>
    <message>
        <source>Dialog</source>
        <translation>对话框</translation>
    </message>
    <message>
        <source>Update Software</source>
        <translation>更新软件</translation>
    </message>
    <message>
        <source>File Size：</source>
        <translation>文件大小：</translation>
    </message>
    <message>
        <source>Down Size：</source>
        <translation>已下载：</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>停止</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>打开</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>%1 bytes</source>
        <translation>%1 字节</translation>
    </message>
    <message>
        <source>%1 KB</source>
        <translation>%1 KB</translation>
    </message>
    <message>
        <source>%1 MB</source>
        <translation>%1 MB</translation>
    </message>
    <message>
        <source>Down Fail</source>
        <translation>下载失败</translation>
    </message>
</context>
<context>
    <name>UpdateFirmware</name>
    <message>
        <source>Dialog</source>
        <translation>对话框</translation>
    </message>
    <message>
        <source>Machine information</source>
        <translation>机器信息</translation>
    </message>
    <message>
        <source>Machine Type：</source>
        <translation>机器型号：</translation>
    </message>
    <message>
        <source>Sequence number：</source>
        <translation>序列号：</translation>
    </message>
    <message>
        <source>Machine mac:</source>
        <translation>机器MAC：</translation>
    </message>
    <message>
        <source>Firmware version:</source>
        <translation>固件版本：</translation>
    </message>
    <message>
        <source>Select Firmware：</source>
        <translation>选择固件：</translation>
    </message>
    <message>
        <source>Update Firmware...</source>
        <translation>正在更新固件...</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>更新</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>退出</translation>
    </message>
</context>
</TS>
