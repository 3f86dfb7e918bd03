#include "UI/MainWindow.h"

#include "app/QsLog.h"

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Brevant"));
    resize(1280, 800);
}

MainWindow::~MainWindow() = default;

bool MainWindow::startUp()
{
    show();
    return true;
}

void MainWindow::openFile(const QString& path)
{
    QLOG_INFO() << "UI\\MainWindow @" << __LINE__ << "open" << path;
}
