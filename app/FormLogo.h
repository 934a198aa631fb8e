#pragma once

#include <QImage>
#include <QWidget>

namespace qav {

// The start-up logo: a borderless blue window in the middle of the screen showing the suite's
// picture, open while the databases are being reached.
class TFormLogo : public QWidget {
  Q_OBJECT

 public:
  TFormLogo();

  const QImage& Picture() const { return picture_; }
  // Shows the window and paints it at once: no message loop runs yet.
  void ShowAndPaint();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage picture_;
};

// The one logo window while it exists, null after its release.
extern TFormLogo* FormLogo;

// Creates and shows the logo.
void CreateLogo();
// Destroys the logo window if it still exists and clears the reference.
void ReleaseLogo();

}  // namespace qav
