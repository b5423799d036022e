// mkmanual IN.html OUT.pdf: typesets the user manual into the program folder.
#include <QFile>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

#include <cstdio>

int main(int argc, char** argv)
{
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: mkmanual IN.html OUT.pdf\n");
    return 1;
  }
  QFile in(QString::fromLocal8Bit(argv[1]));
  if (!in.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "mkmanual: cannot read %s\n", argv[1]);
    return 2;
  }
  QTextDocument doc;
  doc.setHtml(QString::fromUtf8(in.readAll()));

  const QString out = QString::fromLocal8Bit(argv[2]);
  const QString part = out + ".part";
  {
    QPdfWriter pdf(part);
    pdf.setTitle(QStringLiteral("Vantrel manual"));
    pdf.setCreator(QStringLiteral("Vantrel"));
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
    doc.print(&pdf);
  }
  QFile::remove(out);
  if (!QFile::rename(part, out)) {
    std::fprintf(stderr, "mkmanual: cannot write %s\n", argv[2]);
    return 2;
  }
  return 0;
}
