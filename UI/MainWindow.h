#pragma once

#include <QMainWindow>
#include <QString>

// The program's main window.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Shows the window and continues the start; false when the 3D view cannot start.
    bool startUp();

public slots:
    // Opens a file handed over by the command line or a second instance.
    void openFile(const QString& path);
};
