// zevavi-skindemo: a window with the skinned form, its title bar and menu bar, and a few
// skinned controls, in any of the five built-in looks (the View menu switches them live).
//
//   zevavi-skindemo [--style LOOK] [--theme FILE.skn] [--caption TEXT] [--size WxH]
//                   [--screenshot FILE.png]
//     --style       MacOS, WinXP, DeepBlue (the default), Protein or BlueGlass
//     --theme       draw from a theme file instead (zevavi-skin makes them)
//     --caption     the window's caption
//     --size        the window's size, 420x300 by default
//     --screenshot  save a picture of the window (see-through outside its shape) and quit
#include "tools/skindemo/demoform.h"
#include "widgets/skin/skinform.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>

namespace {

// QApplication takes --style for itself (the name of a widget style): ours is read and
// removed before it sees the arguments.
QString take_look(int &argc, char **argv) {
  QString look = QStringLiteral("DeepBlue");
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const QString arg = QString::fromLocal8Bit(argv[i]);
    if ((arg == QLatin1String("--style") || arg == QLatin1String("-style")) && i + 1 < argc) {
      look = QString::fromLocal8Bit(argv[++i]);
    } else if (arg.startsWith(QLatin1String("--style="))) {
      look = arg.mid(8);
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  argv[argc] = nullptr;
  return look;
}

}  // namespace

int main(int argc, char **argv) {
  const QString look = take_look(argc, argv);
  QApplication app(argc, argv);
  QCommandLineParser options;
  options.setApplicationDescription(
      QStringLiteral("The skinned form in the five built-in looks.\n"
                     "  --style LOOK  MacOS, WinXP, DeepBlue (the default), Protein or BlueGlass"));
  options.addHelpOption();
  const QCommandLineOption caption_option(QStringLiteral("caption"), QStringLiteral("The caption."),
                                          QStringLiteral("TEXT"));
  const QCommandLineOption size_option(QStringLiteral("size"), QStringLiteral("The window's size."),
                                       QStringLiteral("WxH"), QStringLiteral("420x300"));
  const QCommandLineOption shot_option(
      QStringLiteral("screenshot"), QStringLiteral("Save a picture and quit."), QStringLiteral("FILE.png"));
  const QCommandLineOption theme_option(QStringLiteral("theme"),
                                        QStringLiteral("Draw from a theme file instead of a built-in look."),
                                        QStringLiteral("FILE.skn"));
  options.addOptions({caption_option, size_option, shot_option, theme_option});
  options.process(app);

  const std::optional<int> style = skin_style_named(look);
  if (!style) {
    std::fprintf(stderr,
                 "zevavi-skindemo: unknown look \"%s\" (MacOS, WinXP, DeepBlue, Protein, BlueGlass)\n",
                 qPrintable(look));
    return 2;
  }
  const QStringList size_parts = options.value(size_option).split(QLatin1Char('x'));
  bool width_ok = false, height_ok = false;
  const QSize size = size_parts.size() == 2
                         ? QSize(size_parts[0].toInt(&width_ok), size_parts[1].toInt(&height_ok))
                         : QSize();
  if (!width_ok || !height_ok || size.width() <= 0 || size.height() <= 0) {
    std::fprintf(stderr, "zevavi-skindemo: --size wants WIDTHxHEIGHT, not \"%s\"\n",
                 qPrintable(options.value(size_option)));
    return 2;
  }

  SkinDemo demo = make_skin_demo(*style, size);
  if (options.isSet(theme_option)) {
    // A file that cannot be used is said, not shown as the fallback look in its place.
    auto *theme = new TskFileTheme(demo.window.get());
    if (!theme->OpenThemeFile(options.value(theme_option))) {
      std::fprintf(stderr, "zevavi-skindemo: %s\n",
                   qPrintable(theme->ThemeError().isEmpty()
                                  ? options.value(theme_option) + QLatin1String(": not usable")
                                  : theme->ThemeError()));
      return 1;
    }
    demo.form->SetFileTheme(theme);
    demo.form->SetUIStyle(FromThemeFile);
  }
  if (options.isSet(caption_option))
    demo.form->SetCaption(options.value(caption_option));
  demo.window->show();
  if (!options.isSet(shot_option))
    return app.exec();

  // The picture is taken once the window has been laid out and painted.
  const QString path = options.value(shot_option);
  int result = 1;
  QTimer::singleShot(0, &app, [&] {
    if (window_picture(*demo.window).save(path))
      result = 0;
    else
      std::fprintf(stderr, "zevavi-skindemo: cannot write %s\n", qPrintable(path));
    app.quit();
  });
  app.exec();
  return result;
}
