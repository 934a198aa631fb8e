#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
  if (argc < 2) return 0;
  QApplication app(argc, argv);
  QLabel label(QStringLiteral("qavtool"));
  label.show();
  return app.exec();
}
