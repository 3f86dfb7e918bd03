#pragma once

#include <QWidget>

// The view-direction pad over the 3D view; its face buttons come with the view pad work.
class BVViewPort : public QWidget
{
    Q_OBJECT
public:
    explicit BVViewPort(QWidget* parent = nullptr)
        : QWidget(parent) {}
    void retranslate() {}

signals:
    void sendView(int direct);
};
