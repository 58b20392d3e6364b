#pragma once

#include <QString>
#include <QVariant>
#include <QWidget>

namespace dravix {

// The page of the user's guide that tells about a window or a page (its file name, as
// "probix.html"), kept on the widget so that F1 finds it from wherever the focus is.
inline constexpr const char* kGuidePageProperty = "dravixGuidePage";

inline void SetGuidePage(QWidget& widget, const QString& page) {
    widget.setProperty(kGuidePageProperty, page);
}

// The guide page of `widget` or of the nearest of its parents that has one, up to (not
// including) `stop`; empty when none has one.
inline QString GuidePageFor(const QWidget* widget, const QWidget* stop = nullptr) {
    for (; widget != nullptr && widget != stop; widget = widget->parentWidget()) {
        const QString page = widget->property(kGuidePageProperty).toString();
        if (!page.isEmpty()) return page;
    }
    return {};
}

}  // namespace dravix
