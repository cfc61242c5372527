// Interface files: the loader's override folder and the clinic's overrides it refuses, and the
// built-in screens laid out for touch. That actions reach their owner is the acceptance suite's.
#include <gtest/gtest.h>

#include <set>

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>

#include "kiosk_test_support.hpp"
#include "platform/interface_loader.hpp"
#include "platform/kiosk_style.hpp"
#include "platform/language.hpp"
#include "platform/reading_order.hpp"
#include "temp_folder.hpp"

namespace quorin::testing {
namespace {

// A .ui document whose top widget "Form" holds one QLabel `name` that shows `text`.
QByteArray uiDocument(const QByteArray& name, const QByteArray& text) {
  return "<ui version=\"4.0\"><class>Form</class><widget class=\"QWidget\" name=\"Form\">"
         "<layout class=\"QVBoxLayout\"><item><widget class=\"QLabel\" name=\"" +
         name + "\"><property name=\"text\"><string>" + text +
         "</string></property></widget></item></layout></widget></ui>";
}

// The built-in title page's actions.
class ActionOwner : public QObject {
  Q_OBJECT

 public:
  Q_INVOKABLE void nextPage(QObject* /*sender*/) {}
  Q_INVOKABLE void chooseLanguage(QObject* /*sender*/) {}
  Q_INVOKABLE void toggleAid(QObject* /*sender*/) {}
};

const QStringList kActions = {"nextPage:", "chooseLanguage:", "toggleAid:"};

class InterfaceLoaderTest : public ::testing::Test {
 protected:
  void TearDown() override { InterfaceLoader::setOverrideFolder(QString()); }
  void write(const char* name, const QByteArray& content) {
    folder_.write(name, content.toStdString());
  }
  test::TempFolder folder_;
  ActionOwner owner_;
};

// A language reads its own subfolder of the override folder, then the clinic's own (English)
// file, then its built-in translation: a page the clinic rewrote never turns back into the sample
// page's translation, whose questions would be others. A faulty override is passed over.
TEST_F(InterfaceLoaderTest, ALanguageReadsItsOwnOverridesThenTheClinicsThenItsBuiltInFile) {
  InterfaceLoader::setOverrideFolder(QString::fromStdString(folder_.path.string()));
  std::filesystem::create_directory(folder_ / "es");
  // The language, its title page's English and Spanish override (nullptr: none, "": faulty), and
  // the title shown.
  const std::tuple<const char*, const char*, const char*, QString> cases[] = {
      {"en", "English override", "Spanish override", "English override"},
      {"en", "", nullptr, "How have you been feeling lately?"},
      {"es", "English override", "Spanish override", "Spanish override"},
      {"es", "English override", "", "English override"},
      {"es", "English override", nullptr, "English override"},
      {"es", nullptr, nullptr, QString::fromUtf8("¿Cómo se ha sentido últimamente?")},
  };
  for (const auto& [language, english, spanish, shown] : cases) {
    SCOPED_TRACE(shown.toStdString());
    for (const auto& [name, text] :
         {std::pair{"TitlePage.ui", english}, {"es/TitlePage.ui", spanish}}) {
      std::filesystem::remove(folder_ / name);
      if (text == nullptr) continue;
      write(name, uiDocument(*text != 0 ? "titleLabel" : "misnamedLabel", text));
    }
    ASSERT_TRUE(Language::setCurrent(QString::fromLatin1(language)));
    QLabel* label = nullptr;
    const Outlet outlet{"titleLabel", &QLabel::staticMetaObject,
                        [&](QObject* o) { label = qobject_cast<QLabel*>(o); }};
    std::unique_ptr<QWidget> form(InterfaceLoader::load("TitlePage", &owner_, {outlet}, kActions));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), shown);
  }
  Language::setCurrent(Language::kSource);
}

// A clinic's question page or start screen that would store an answer under another question or
// choice, keep an entry, or never let a session start, is refused for the built-in one, saying
// why. Radio buttons, which Qt keeps one of checked, are cleared for the next person all the same.
class ClinicPageTest : public PageFlowFixture {
 protected:
  void SetUp() override {
    applyKioskStyle(*qobject_cast<QApplication*>(QCoreApplication::instance()));
    PageFlowFixture::SetUp();
  }
  void TearDown() override {
    PageFlowFixture::TearDown();
    InterfaceLoader::setOverrideFolder(QString());
    qobject_cast<QApplication*>(QCoreApplication::instance())->setStyleSheet(QString());
  }
  // Launches the kiosk afresh with `page` as the override of `name`, then switches to `language`
  // if given; the warnings it logs.
  QStringList launchWith(const char* name, const QString& page, const QString& language = {}) {
    static QStringList* warnings = nullptr;
    QStringList logged;
    warnings = &logged;
    folder_.write(std::string(name) + ".ui", page.toStdString());
    InterfaceLoader::setOverrideFolder(QString::fromStdString(folder_.path.string()));
    Alert::dismissAll();
    app_.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& m) { warnings->append(m); });
    app_ = home_->launch();
    start();
    toolPage().view();
    QCoreApplication::processEvents();
    if (language.isEmpty()) {
      flow().reportCutOffText();
    } else {
      flow().setLanguage(language);  // which checks the new pages itself
      QCoreApplication::processEvents();
    }
    qInstallMessageHandler(previous);
    return logged;
  }
  static QString builtIn(const char* name) {
    QFile file(InterfaceLoader::builtInPath(QString::fromLatin1(name)));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return QString::fromUtf8(file.readAll());
  }
  test::TempFolder folder_;
};

TEST_F(ClinicPageTest, PagesThatCannotRecordEverySessionAreRefused) {
  const QString page = builtIn("ToolPage");
  const QString tag103 = QStringLiteral("<number>103</number>");
  const QString action = QStringLiteral("<string>questionAnswered:</string>");
  const QString property = QStringLiteral("<property name=\"action\" stdset=\"0\">") + action +
                           QStringLiteral("</property>");
  QString noAction = page;
  noAction.remove(noAction.indexOf(property), property.size());
  const std::pair<QString, QString> cases[] = {
      {QString(page).replace(tag103, QStringLiteral("<number>104</number>")), "the tag 104"},
      {noAction, "'q1c0Button' (QPushButton) takes an entry that the kiosk neither stores"},
      {QString(page).replace(QStringLiteral("class=\"QLabel\" name=\"q1Label\""),
                             QStringLiteral("class=\"QFancyLabel\" name=\"q1Label\"")),
       "the widget class QFancyLabel (line"},
  };
  for (const auto& [override, fault] : cases) {
    SCOPED_TRACE(fault.toStdString());
    const QStringList warnings = launchWith("ToolPage", override);
    EXPECT_TRUE(warnings.filter(fault).size() == 1) << warnings.join(u'\n').toStdString();
    QAbstractButton* choice = toolPage().answerButton(1, 0);
    ASSERT_NE(choice, nullptr);
    EXPECT_EQ(choice->objectName(), QStringLiteral("q1c0Button"));
    choice->click();
    EXPECT_EQ(app_->tool().answerAsString(1), "0");
    flow().restartAndForce(true);
  }
  const QString noStart =
      builtIn("Start").replace(QStringLiteral("startScreener:"), QStringLiteral("keyPressed:"));
  EXPECT_EQ(launchWith("Start", noStart).filter("'startScreener:'").size(), 1);

  // Radio buttons, the help question's in a button group, as Qt Designer makes them.
  QString radios = page;
  radios.replace(
      QRegularExpression(QStringLiteral("class=\"QPushButton\"( name=\"(q\\dc\\d|help))")),
      QStringLiteral("class=\"QRadioButton\"\\1"));
  radios.replace(
      QStringLiteral("<string>helpPressed:</string>"),
      QStringLiteral("<string>helpPressed:</string></property><attribute "
                     "name=\"buttonGroup\"><string>choices</string></attribute><property "
                     "name=\"x\" stdset=\"0\"><string/>"));
  radios.replace(
      QStringLiteral("</ui>"),
      QStringLiteral("<buttongroups><buttongroup name=\"choices\"/></buttongroups></ui>"));
  std::filesystem::remove(folder_ / "Start.ui");
  EXPECT_EQ(launchWith("ToolPage", radios).filter("Ignoring"), QStringList());
  for (int q = 1; q <= 8; ++q) answer(q, kComplete[q - 1]);
  answer(1, 1);
  toolPage().helpYesButton()->click();
  EXPECT_FALSE(toolPage().answerButton(1, 3)->isChecked());
  EXPECT_TRUE(toolPage().answerButton(2, 2)->isChecked());
  flow().restartAndForce(true);
  for (QAbstractButton* button : toolPage().view()->findChildren<QAbstractButton*>()) {
    EXPECT_FALSE(button->isChecked()) << button->objectName().toStdString();
  }
}

// The other pages refuse what they could not honour: an entry they would keep for the next
// person, page dots that would not move the pages or squeeze them, wording that does not fit. A
// reading aid of another button class is switched off for the next person all the same.
TEST_F(ClinicPageTest, OtherPagesRefuseWhatTheyCouldNotHonour) {
  const QString title = builtIn("TitlePage");
  const QString card =
      QStringLiteral("<item>\n      <widget class=\"QFrame\" name=\"introStep1Card\">");
  const QString dots = QStringLiteral(
      "<property name=\"action\" stdset=\"0\"><string>changePage:</string></property>");
  // The dots straight in the page's layout, as a quick edit in Qt Designer leaves them.
  QString flat = builtIn("Page");
  const qsizetype bar = flat.indexOf(QStringLiteral("<widget class=\"QFrame\" name=\"pagerBar\">"));
  const qsizetype control = flat.indexOf(QStringLiteral("<widget class=\"PageControl\""));
  const qsizetype controlEnd = flat.indexOf(QStringLiteral("</widget>"), control) + 9;
  const qsizetype barEnd = flat.indexOf(QStringLiteral("</widget>"), controlEnd) + 9;
  flat = flat.left(bar) + flat.mid(control, controlEnd - control) + flat.mid(barEnd);
  const std::tuple<const char*, QString, const char*> cases[] = {
      {"IntroPage",
       builtIn("IntroPage")
           .replace(card,
                    QStringLiteral("<item><widget class=\"QLineEdit\" name=\"initials\"/></item>") +
                        card),
       "'initials' (QLineEdit) takes an entry"},
      {"Page", builtIn("Page").remove(dots),
       "'pageControl' does not have the action 'changePage:'"},
      {"Page", flat, "'pageControl' must stand in a bar of its own"},
  };
  for (const auto& [name, page, fault] : cases) {
    SCOPED_TRACE(fault);
    std::filesystem::remove_all(folder_.path);
    std::filesystem::create_directory(folder_.path);
    const QStringList warnings = launchWith(name, page);
    EXPECT_EQ(warnings.filter(QString::fromUtf8(fault)).size(), 1)
        << warnings.join(u'\n').toStdString();
  }
  std::filesystem::remove_all(folder_.path);
  std::filesystem::create_directory(folder_.path);
  // Wording that needs more room than it has is named; the built-in wording fits.
  const QStringList cutOff = launchWith(
      "TitlePage",
      QString(title).replace(QStringLiteral("Start the check-in"),
                             QStringLiteral("Begin the confidential wellbeing check-in now")));
  EXPECT_EQ(cutOff.filter("TitlePage: the page needs").size(), 1)
      << cutOff.join(u'\n').toStdString();
  QString never = builtIn("ToolPage");
  never.replace(never.indexOf(QStringLiteral("<string>Never</string>")), 21,
                QStringLiteral("<string>Not at all, never</string>"));
  std::filesystem::create_directory(folder_ / "es");
  EXPECT_EQ(launchWith("es/ToolPage", never, QStringLiteral("es"))
                .filter("ToolPage (es): the title of 'q1c0Button' does not fit it")
                .size(),
            1);
  Language::setCurrent(Language::kSource);
  launchWith("TitlePage",
             QString(title).replace(
                 QStringLiteral("class=\"AidToggle\" name=\"largerTextToggle\">"),
                 QStringLiteral("class=\"QPushButton\" name=\"largerTextToggle\"><property "
                                "name=\"checkable\"><bool>true</bool></property>")));
  auto* toggle = flow().views()[0]->view()->findChild<QAbstractButton*>("largerTextToggle");
  ASSERT_NE(toggle, nullptr);
  toggle->click();
  EXPECT_TRUE(currentKioskLook().largerText);
  flow().restartAndForce(true);
  EXPECT_FALSE(toggle->isChecked());
  EXPECT_FALSE(currentKioskLook().largerText);
}

// The start screen and the seven pages in the kiosk's style on a portrait tablet, in every look:
// every control fits a fingertip and lies inside its screen, text is readable at arm's length,
// never cut off, never over other text, and read in the order it stands.
class LayoutTest : public PageFlowFixture {
 protected:
  static constexpr KioskLook kLooks[] = {{}, {true, false}, {false, true}};
  void SetUp() override {
    applyKioskStyle(*qobject_cast<QApplication*>(QCoreApplication::instance()));
    PageFlowFixture::SetUp();
  }
  void TearDown() override {
    PageFlowFixture::TearDown();
    setKioskLook({});
    qobject_cast<QApplication*>(QCoreApplication::instance())->setStyleSheet(QString());
  }
  // Checks `screen` in each look; the staff's start screen is never shown with larger text.
  void expectEveryLook(QWidget* screen, QSize control, int font, bool largerText = true) {
    for (const KioskLook& look : kLooks) {
      if (look.largerText && !largerText) continue;
      SCOPED_TRACE(look.largerText     ? "larger text"
                   : look.highContrast ? "high contrast"
                                       : "normal");
      // The page flow also lays its question rows out for the look.
      flow_ != nullptr ? flow_->setLook(look) : setKioskLook(look);
      QCoreApplication::processEvents();
      expectLaidOutForTouch(screen, control, font);
    }
    flow_ != nullptr ? flow_->setLook({}) : setKioskLook({});
  }
  static QString textOf(QWidget* w) {
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
    return {};
  }
  static bool namedForReaders(QWidget* control) {
    return !QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name).isEmpty();
  }
  static void expectLaidOutForTouch(QWidget* screen, QSize control, int font) {
    SCOPED_TRACE(screen->objectName().toStdString());
    const auto placed = [screen](QWidget* w) {
      return QRect(w->mapTo(screen, QPoint(0, 0)), w->size());
    };
    int controls = 0;
    std::vector<QWidget*> texts;
    for (QWidget* w : screen->findChildren<QWidget*>()) {
      const QString text = textOf(w);
      SCOPED_TRACE(w->objectName().toStdString() + " " + text.toStdString());
      const bool button = qobject_cast<QAbstractButton*>(w) != nullptr;
      if (button || qobject_cast<QLineEdit*>(w)) {
        ++controls;
        EXPECT_TRUE(namedForReaders(w));
        EXPECT_TRUE(w->width() >= control.width() && w->height() >= control.height());
        EXPECT_GE(w->font().pixelSize(), font);
        EXPECT_TRUE(screen->rect().contains(placed(w)));
      }
      if (text.isEmpty()) continue;
      if (w->isVisibleTo(screen)) texts.push_back(w);
      // The room inside the border and padding against the text (one line or more).
      QRect room = w->contentsRect();
      QSize needed;
      if (button) {
        QStyleOptionButton option;
        option.initFrom(w);
        room = w->style()->subElementRect(QStyle::SE_PushButtonContents, &option, w);
        needed = w->fontMetrics().size(0, text);
      } else {
        const auto* label = static_cast<QLabel*>(w);
        EXPECT_GE(w->font().pixelSize(), 18);
        EXPECT_TRUE(screen->rect().contains(placed(w)));
        const int flags =
            static_cast<int>(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
        needed = w->fontMetrics().boundingRect(room, flags, text).size();
      }
      EXPECT_TRUE(needed.width() <= room.width() && needed.height() <= room.height())
          << "needs " << needed.width() << "x" << needed.height() << ", has " << room.width() << "x"
          << room.height();
    }
    EXPECT_GT(controls, 0) << "every screen offers something to tap";
    // A screen reader, and reading aloud, take the texts in this order: each comes below the
    // one before, or to its right (the next card of a row, a question's choices, an alert's
    // buttons).
    const QList<QWidget*> order = readingOrder(*screen);
    for (qsizetype i = 1; i < order.size(); ++i) {
      const QRect before = placed(order[i - 1]);
      const QRect next = placed(order[i]);
      EXPECT_TRUE(next.top() > before.bottom() || next.left() > before.right())
          << shownText(*order[i]).toStdString() << " is read after "
          << shownText(*order[i - 1]).toStdString();
    }
    for (std::size_t i = 0; i < texts.size(); ++i) {
      for (std::size_t j = i + 1; j < texts.size(); ++j) {
        if (texts[i]->isAncestorOf(texts[j]) || texts[j]->isAncestorOf(texts[i])) continue;
        EXPECT_FALSE(placed(texts[i]).intersects(placed(texts[j])))
            << textOf(texts[i]).toStdString() << " overlaps " << textOf(texts[j]).toStdString();
      }
    }
  }
};

TEST_F(LayoutTest, EveryScreenIsLaidOutForTouch) {
  app_->window().resize(768, 1024);
  QCoreApplication::processEvents();
  expectEveryLook(app_->window().rootViewController()->view(), QSize(48, 48), 22, false);
  start();
  // Spanish runs a quarter longer than English: its pages must fit as well, in every look.
  for (const QString& language : {QStringLiteral("es"), Language::kSource}) {
    SCOPED_TRACE(language.toStdString());
    flow().setLanguage(language);
    QCoreApplication::processEvents();
    for (const auto& page : flow().views()) expectEveryLook(page->view(), QSize(80, 56), 18);
    // The strip's own bar: the read-aloud control fits its words and leaves the dots clear.
    ASSERT_TRUE(flow().speakButton()->isVisibleTo(flow().view()));
    expectLaidOutForTouch(flow().view(), QSize(48, 48), 18);  // as the new language left it
    expectEveryLook(flow().view(), QSize(48, 48), 18);
    const int pagesHeight = scrollView().height();
    for (const KioskLook& look : kLooks) {
      flow().setLook(look);
      QCoreApplication::processEvents();
      // The aids change no page's size: a restart turns them off while it scrolls back to the
      // title page, and a resize then would stop that scroll half-way.
      EXPECT_EQ(scrollView().height(), pagesHeight);
      // A page taller than the screen shows its own bar, which a screen reader names too.
      int bars = 0;
      for (QScrollBar* bar : flow().views()[0]->view()->window()->findChildren<QScrollBar*>()) {
        if (!bar->isVisibleTo(bar->window())) continue;
        ++bars;
        EXPECT_TRUE(namedForReaders(bar));
      }
      EXPECT_TRUE(bars > 0 || !look.largerText);
      const QRect speak = flow().speakButton()->geometry();
      QWidget* bar = flow().speakButton()->parentWidget();
      QRect dots;
      for (QWidget* dot : flow().pageControl()->findChildren<PageDot*>()) {
        const QRect placed(dot->mapTo(bar, QPoint()), dot->size());
        EXPECT_FALSE(placed.intersects(speak)) << "a page dot under the read-aloud control";
        dots |= placed;
      }
      // In the middle, or as near it as the control leaves them.
      EXPECT_TRUE(std::abs(dots.center().x() - bar->rect().center().x()) <= 1 ||
                  dots.left() - speak.right() <= 24)
          << dots.left() << " to " << dots.right() << ", the control to " << speak.right();
    }
    flow().setLook({});
  }
}

// The alerts the public meets (results asked for too early, a restart to confirm, the time-out
// warning), in each language and look: every button shows its whole title, within the screen.
TEST_F(LayoutTest, EveryAlertShowsItsWholeButtons) {
  start();
  answer(1, 0);  // begun, so that a restart asks first
  for (const QString& language : {QStringLiteral("es"), Language::kSource}) {
    for (const KioskLook& look : kLooks) {
      SCOPED_TRACE(language.toStdString() + (look.largerText ? " larger" : "") +
                   (look.highContrast ? " contrast" : ""));
      flow().setLanguage(language);
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // the old pages
      flow().setLook(look);
      goToPage(4);
      for (int alert = 0; alert < 3; ++alert) {
        if (alert == 0) toolPage().showResults(nullptr);
        if (alert == 1) flow().restartAndForce(false);
        if (alert == 2) advance(milliseconds(flow().timeout() * 1000));
        QCoreApplication::processEvents();
        ASSERT_EQ(Alert::visibleAlerts().size(), 1);
        QWidget* box = Alert::visibleAlerts().front()->button(0)->window();
        EXPECT_LE(box->width(), 768);
        expectLaidOutForTouch(box, QSize(80, 56), 22);
        Alert::dismissAll();
      }
    }
  }
  // A clinic's own translation may run longer still: buttons too wide to stand side by side
  // stand in a column.
  (new Alert(std::nullopt, QStringLiteral("?"), nullptr,
             QStringLiteral("Volver a la pantalla anterior sin cambiar nada"),
             {QStringLiteral("Borrar todas las respuestas y empezar de nuevo")}))
      ->show();
  QCoreApplication::processEvents();
  QWidget* box = Alert::visibleAlerts().front()->button(0)->window();
  EXPECT_LE(box->width(), 768);
  expectLaidOutForTouch(box, QSize(80, 56), 22);
}

// A clinic's style sheet adds to the kiosk's; one Qt cannot parse is left out, since it would take
// the kiosk's own style down with it.
TEST_F(InterfaceLoaderTest, AClinicsStyleSheetIsAddedOnlyWhenItParses) {
  auto& app = *qobject_cast<QApplication*>(QCoreApplication::instance());
  InterfaceLoader::setOverrideFolder(QString::fromStdString(folder_.path.string()));
  for (const QByteArray clinic : {"QLabel { color: red; }", "QLabel { color: red; "}) {
    write("kiosk.qss", clinic);
    applyKioskStyle(app);
    const bool parses = clinic.endsWith('}');
    EXPECT_EQ(app.styleSheet(), kioskStyleSheet() + (parses ? QString::fromUtf8(clinic) : ""));
  }
  app.setStyleSheet(QString());
}

// The settings store's alerts come in Spanish too: lupdate once filed them under another context,
// where they were never found.
TEST(TranslationTest, TheStoresAlertsHaveTheirSpanish) {
  ASSERT_TRUE(Language::setCurrent(QStringLiteral("es")));
  for (const char* text :
       {QuorinAppDelegate::kStoreOpenFailedMessage, QuorinAppDelegate::kStoreSaveFailedMessage}) {
    EXPECT_NE(QuorinAppDelegate::tr(text).toStdString(), text);
  }
  Language::setCurrent(Language::kSource);
}

TEST(KioskStyleTest, TextContrast) {
  EXPECT_NEAR(contrastRatio("#000000", "#FFFFFF"), 21.0, 0.01);
  EXPECT_NEAR(contrastRatio("#777777", "#FFFFFF"), 4.48, 0.01);
  for (const bool high : {false, true}) {
    const KioskPalette& palette = kioskPalette(high);
    for (const auto& [text, background] : kioskTextPairs(palette)) {
      EXPECT_GE(contrastRatio(text, background), high ? 7.0 : 4.5) << text << " on " << background;
    }
    // The other pages' dots are controls, to be seen at 3:1 against the bar.
    const QColor dot(QLatin1String(palette.text)), bar(QLatin1String(palette.surface));
    const auto mix = [](int a, int b) {
      return static_cast<int>(
          std::lround(PageDot::kIdleOpacity * a + (1 - PageDot::kIdleOpacity) * b));
    };
    const QByteArray idle = QColor(mix(dot.red(), bar.red()), mix(dot.green(), bar.green()),
                                   mix(dot.blue(), bar.blue()))
                                .name()
                                .toLatin1();
    EXPECT_GE(contrastRatio(idle.constData(), palette.surface), 3.0) << idle.constData();
  }
  const KioskPalette& p = kioskPalette(true);
  const std::set<QString> colours = {
      p.background,       p.surface,    p.text,        p.mutedText, p.primary,
      p.primaryPressed,   p.onPrimary,  p.border,      p.accent,    p.choiceBorder,
      p.noticeBackground, p.noticeText, p.noticeBorder};
  static const QRegularExpression colour(QStringLiteral("#[0-9A-Fa-f]{6}\\b"));
  for (const QRegularExpressionMatch& m : colour.globalMatch(kioskStyleSheet({false, true}))) {
    EXPECT_TRUE(colours.count(m.captured().toUpper())) << m.captured().toStdString();
  }
}

}  // namespace
}  // namespace quorin::testing

#include "interface_test.moc"
