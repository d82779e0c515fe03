#include "app/TPageControl.h"

#include <QStyleOptionTab>
#include <QStylePainter>
#include <QTabBar>

// Qt's tab bar paints its current tab even when that tab is hidden, at a stale place; this one
// draws only the visible tabs and, when the current page has no tab, none as selected.
class TPageTabBar : public QTabBar {
public:
    using QTabBar::QTabBar;

protected:
    void paintEvent(QPaintEvent* event) override {
        const int current = currentIndex();
        if (current < 0 || isTabVisible(current)) {
            QTabBar::paintEvent(event);
            return;
        }
        QStylePainter painter(this);
        for (int tab = 0; tab < count(); ++tab) {
            if (!isTabVisible(tab))
                continue;
            QStyleOptionTab option;
            initStyleOption(&option, tab);
            option.state &= ~QStyle::State_Selected;
            option.selectedPosition = QStyleOptionTab::NotAdjacent;
            painter.drawControl(QStyle::CE_TabBarTab, option);
        }
    }
};

TPageControl::TPageControl(QWidget* parent) : QTabWidget(parent) {
    setTabBar(new TPageTabBar(this));
}
