#include "ui/TextColour.h"

#include <QEvent>
#include <QObject>
#include <QPalette>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace dravix {

namespace {

double Linear(double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& colour) {
    const QColor rgb = colour.toRgb();
    return 0.2126 * Linear(rgb.redF()) + 0.7152 * Linear(rgb.greenF()) + 0.0722 * Linear(rgb.blueF());
}

QColor WithLightness(const QColor& colour, double lightness) {
    const QColor hsl = colour.toHsl();
    // In the 8-bit channels it is drawn with, so that its contrast is the one measured here.
    return QColor::fromRgba(
        QColor::fromHslF(hsl.hslHueF(), hsl.hslSaturationF(), static_cast<float>(lightness), hsl.alphaF())
            .rgba());
}

// Keeps the text roles of one control at the readable form of its colour. It lives as the
// control's child and acts after every palette change the control sees.
class ReadableText final : public QObject {
  public:
    static constexpr const char* kName = "dravixReadableText";

    ReadableText(QWidget* control, const QColor& wanted) : QObject(control), m_wanted(wanted) {
        setObjectName(QLatin1String(kName));
        control->installEventFilter(this);
        Apply(control);
    }

    void SetWanted(QWidget* control, const QColor& wanted) {
        m_wanted = wanted;
        Apply(control);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::PaletteChange && watched == parent())
            Apply(static_cast<QWidget*>(watched));
        return false;
    }

  private:
    void Apply(QWidget* control) const {
        const QColor colour = FixedColourOn(m_wanted, control->palette().color(QPalette::Window));
        // Setting an equal colour again would bring another palette change and no end of them.
        QPalette palette = control->palette();
        if (palette.color(QPalette::WindowText) == colour && palette.color(QPalette::ButtonText) == colour &&
            palette.color(QPalette::Text) == colour)
            return;
        palette.setColor(QPalette::WindowText, colour);
        palette.setColor(QPalette::ButtonText, colour);
        palette.setColor(QPalette::Text, colour);
        control->setPalette(palette);
    }

    QColor m_wanted;
};

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableOn(const QColor& wanted, const QColor& background, double minimum) {
    if (ContrastRatio(wanted, background) >= minimum) return wanted;
    const bool towardBlack = ContrastRatio(Qt::black, background) >= ContrastRatio(Qt::white, background);
    const double end = towardBlack ? 0.0 : 1.0;
    if (ContrastRatio(WithLightness(wanted, end), background) < minimum) return WithLightness(wanted, end);
    // The lightnesses that are enough form one stretch reaching to that end: bisect for the
    // least move.
    double enough = end;
    double notEnough = wanted.toHsl().lightnessF();
    for (int i = 0; i < 24; ++i) {
        const double middle = (enough + notEnough) / 2;
        (ContrastRatio(WithLightness(wanted, middle), background) >= minimum ? enough : notEnough) = middle;
    }
    // The 8-bit channels may round it back below the minimum.
    QColor readable = WithLightness(wanted, enough);
    for (int step = 0; step < 255 && ContrastRatio(readable, background) < minimum; ++step) {
        enough += towardBlack ? -1.0 / 255 : 1.0 / 255;
        readable = WithLightness(wanted, std::clamp(enough, 0.0, 1.0));
    }
    return readable;
}

bool IsDarkBackground(const QColor& background) {
    return ContrastRatio(Qt::white, background) > ContrastRatio(Qt::black, background);
}

QColor FixedColourOn(const QColor& wanted, const QColor& background) {
    return IsDarkBackground(background) ? ReadableOn(wanted, background) : wanted;
}

void SetReadableTextColour(QWidget* control, const QColor& wanted) {
    if (auto* existing =
            control->findChild<QObject*>(QLatin1String(ReadableText::kName), Qt::FindDirectChildrenOnly)) {
        static_cast<ReadableText*>(existing)->SetWanted(control, wanted);
        return;
    }
    new ReadableText(control, wanted);
}

}  // namespace dravix
