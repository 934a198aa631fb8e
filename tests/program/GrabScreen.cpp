// Saves what the X server's screen shows as a PNG file, for the README's picture of the console
// taken by the desktop journey:  grab-screen FILE   (DISPLAY names the server).
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: grab-screen FILE\n");
    return 2;
  }
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return 1;
  return screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
