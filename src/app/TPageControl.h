#pragma once

#include <QTabWidget>

// A tab widget whose pages may have no tab: such a page can be shown from code (a menu command),
// and while it shows, the tabs of the other pages are drawn with none of them selected.
class TPageControl : public QTabWidget {
    Q_OBJECT
public:
    explicit TPageControl(QWidget* parent = nullptr);
};
