#include "testutil_printui.h"

#include <QDir>
#include <QThread>
#include <QTest>

#include "Thread/CommunicateThread.h"
#include "Thread/ThreadPool.h"
#include "UI/BrevMessageBox.h"
#include "scene/AppData.h"

PrintUiFixture::PrintUiFixture()
{
    registerSignalTypes();
    resetSettings();
    BrevMessageBox::setAnswerHook([this](BrevMessageBox& box) {
        asked << box.kind();
        return answers.value(box.kind(), 1);
    });
}

PrintUiFixture::~PrintUiFixture()
{
    BrevMessageBox::setAnswerHook(nullptr);
}

void PrintUiFixture::resetSettings()
{
    const QString sub = dir.path() + QStringLiteral("/s%1").arg(++generation);
    QDir().mkpath(sub);
    AppData::instance()->setSettingsDir(sub);
}

QString PrintUiFixture::settingsFile() const
{
    return dir.path() + QStringLiteral("/s%1/setting.ini").arg(generation);
}

void onLinkThread(const std::function<void()>& f)
{
    CommunicateThread* link = ThreadPool::instance()->linkWorker();
    QMetaObject::invokeMethod(link, f, Qt::BlockingQueuedConnection);
}
