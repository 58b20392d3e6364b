#pragma once

#include <QLabel>
#include <QString>

namespace dravix {

// One line that ends in a file's path ("File: /home/…/run.csv"): when the line is too narrow the
// path is shortened in its middle, so that its start and its file name stay; it never breaks onto
// a second line and never makes its window wider. The tool tip holds the whole path.
class PathLabel final : public QLabel {
    Q_OBJECT
  public:
    explicit PathLabel(QWidget* parent = nullptr);
    ~PathLabel() override;
    Q_DISABLE_COPY_MOVE(PathLabel)

    // `lead` is shown as it is, the path after it.
    void SetPath(const QString& lead, const QString& path);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void Fit();

    QString m_lead;
    QString m_path;
};

}  // namespace dravix
