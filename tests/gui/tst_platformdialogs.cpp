// The real Qt message boxes and file dialog, offscreen, driven with the keyboard as a user
// would: Enter answers a box with its default button, and a save that would replace a file
// asks first with Yes as the default.
#include "gui/platform/filedialog.h"
#include "gui/platform/messageboxes.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>
#include <functional>

using namespace pw;
using Answer = MessageBoxes::Answer;
using Buttons = MessageBoxes::Buttons;

namespace {

// Runs `step` on the modal window that comes up next (waiting for it for up to five seconds).
// A window that the step leaves open is closed five seconds later, so that a fault fails the
// test instead of hanging it.
void onNextModal(QWidget *previous, std::function<void(QWidget *)> step)
{
    auto *poll = new QTimer;
    auto *clock = new QElapsedTimer;
    clock->start();
    QObject::connect(poll, &QTimer::timeout, [=] {
        QWidget *modal = QApplication::activeModalWidget();
        const bool up = modal && modal != previous && modal->isVisible();
        if (!up && clock->elapsed() < 5000)
            return;
        poll->stop();
        poll->deleteLater();
        delete clock;
        if (up)
            QTimer::singleShot(5000, modal, [modal] { modal->close(); });
        step(up ? modal : nullptr);
    });
    poll->start(10);
}

}  // namespace

class TstPlatformDialogs : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // As the program does: Qt's own texts in Japanese, where the translation is installed.
        if (translator_.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(&translator_);
    }

    void keyAnswersWithTheDefaultButton_data()
    {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("defaultAnswer");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("answer");
        QTest::newRow("confirmation, Enter") << int(Buttons::YesNo) << int(Answer::Yes) << int(Qt::Key_Return) << int(Answer::Yes);
        QTest::newRow("confirmation, Esc") << int(Buttons::YesNo) << int(Answer::Yes) << int(Qt::Key_Escape) << int(Answer::No);
        QTest::newRow("No as default, Enter") << int(Buttons::YesNo) << int(Answer::No) << int(Qt::Key_Return) << int(Answer::No);
        QTest::newRow("notice, Enter") << int(Buttons::Ok) << int(Answer::Ok) << int(Qt::Key_Return) << int(Answer::Ok);
    }
    void keyAnswersWithTheDefaultButton()
    {
        QFETCH(int, buttons);
        QFETCH(int, defaultAnswer);
        QFETCH(int, key);
        QFETCH(int, answer);
        QString seen;
        onNextModal(nullptr, [&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            if (!box)
                return;
            seen = box->windowTitle() + QLatin1Char('|') + box->text() + QLatin1Char('|') + QString::number(int(box->icon()));
            for (QAbstractButton *button : box->buttons())
                seen += QLatin1Char('|') + button->text();
            QTest::keyClick(box, Qt::Key(key));
        });
        QtMessageBoxes boxes;
        const Answer got = boxes.ask(nullptr, QString(), QStringLiteral("画像を書換しますか？"), Buttons(buttons), Answer(defaultAnswer));
        QCOMPARE(int(got), answer);
        // No icon, and the program's title where the box has none of its own.
        QVERIFY2(seen.startsWith(QStringLiteral("Pixelwright|画像を書換しますか？|0|")), qPrintable(seen));
        if (Buttons(buttons) == Buttons::YesNo)
            QVERIFY2(seen.contains(QStringLiteral("|はい(&Y)")) && seen.contains(QStringLiteral("|いいえ(&N)")), qPrintable(seen));
    }

    // Replacing a file is confirmed with Qt's own words and Yes as the default: Enter replaces;
    // No (Esc) returns to the dialog, where the user may still cancel. A new name asks nothing.
    // The dialog opens in the folder given, on the filter given, and says which filter the
    // user left it on, by its place in the list.
    // Each filter takes a name in either case on a file system that tells them apart, and
    // only the names of its own patterns.
    void filtersTakeEitherCase()
    {
        const QStringList filters = SharedFileDialog::toNameFilters(QStringLiteral("Binary(*.BIN)|*.BIN|画像(*.bmp;*.Jpg)|*.bmp;*.Jpg"));
        QCOMPARE(filters.size(), 2);
        const auto takes = [](const QString &filter, const QString &name) {
            const QStringList patterns = filter.section(QLatin1Char('('), -1).chopped(1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            return std::any_of(patterns.cbegin(), patterns.cend(), [&](const QString &pattern) {
                return QRegularExpression::fromWildcard(pattern, Qt::CaseSensitive).match(name).hasMatch();
            });
        };
        for (const QString name : {"logo.bin", "LOGO.BIN", "Logo.Bin"})
            QVERIFY2(takes(filters[0], name) && !takes(filters[1], name), qPrintable(name));
        for (const QString name : {"a.bmp", "A.BMP", "a.jpg", "a.JPG"})
            QVERIFY2(takes(filters[1], name) && !takes(filters[0], name), qPrintable(name));
        QVERIFY(!takes(filters[0], QStringLiteral("bin")) && !takes(filters[1], QStringLiteral("a.png")));
    }

    void filterAndFolderGoBothWays()
    {
        QTemporaryDir dir;
        QStringList labels;
        FileDialogRequest request;
        request.mode = FileDialogRequest::Mode::Save;
        request.nameFilters = SharedFileDialog::toNameFilters(QStringLiteral("Cヘッダー(*.h)|*.h|XBM(*.xbm)|*.xbm|PBM(*.pbm)|*.pbm"), &labels);
        request.labels = labels;
        request.filter = 2;
        request.initialPath = dir.path();
        QString shownFilter, shownFolder;
        QStringList typeTexts;  // as the file type box lists them
        bool nativeAllowed = true;
        onNextModal(nullptr, [&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            if (!dialog)
                return;
            // Qt's own on every platform: a native one would take the [Aa] classes literally.
            nativeAllowed = !dialog->testOption(QFileDialog::DontUseNativeDialog);
            shownFilter = dialog->selectedNameFilter();
            if (const auto *types = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo")))
                for (int i = 0; i < types->count(); ++i)
                    typeTexts << types->itemText(i);
            shownFolder = dialog->directory().absolutePath();
            dialog->selectNameFilter(request.nameFilters[1]);
            dialog->selectFile(QStringLiteral("out.xbm"));
            QTest::keyClick(dialog, Qt::Key_Return);
        });
        int chosen = -1;
        const std::optional<QString> result = QtFileDialogBackend().run(nullptr, request, &chosen);
        QVERIFY(shownFilter == request.nameFilters[2] || shownFilter == labels[2]);
        QCOMPARE(shownFolder, QFileInfo(dir.path()).absoluteFilePath());
        QCOMPARE(typeTexts, labels);  // each type as its label names it, the pattern not said twice
        QVERIFY(!nativeAllowed);
        QVERIFY(result.has_value());
        QCOMPARE(QFileInfo(*result).absoluteFilePath(), QFileInfo(dir.filePath("out.xbm")).absoluteFilePath());
        QCOMPARE(chosen, 1);
    }

    void replacingAFileAsksWithYesAsDefault_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("keyOnQuestion");  // 0: no question expected
        QTest::addColumn<bool>("chosen");
        QTest::addColumn<bool>("confirm");  // the request asks before replacing
        QTest::newRow("existing, Enter") << "old.BIN" << int(Qt::Key_Return) << true << true;
        QTest::newRow("existing, Esc") << "old.BIN" << int(Qt::Key_Escape) << false << true;
        QTest::newRow("new name") << "new.BIN" << 0 << true << true;
        // Esc would refuse a question, had one come.
        QTest::newRow("existing, not to be asked") << "old.BIN" << int(Qt::Key_Escape) << true << false;
    }
    void replacingAFileAsksWithYesAsDefault()
    {
        QFETCH(QString, name);
        QFETCH(int, keyOnQuestion);
        QFETCH(bool, chosen);
        QFETCH(bool, confirm);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        QFile old(dir.filePath(QStringLiteral("old.BIN")));
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("x") == 1);
        old.close();

        QString question;
        bool backInDialog = false;
        onNextModal(nullptr, [&](QWidget *dialog) {
            if (!qobject_cast<QFileDialog *>(dialog))
                return;
            if (keyOnQuestion) {
                onNextModal(dialog, [&](QWidget *modal) {
                    auto *box = qobject_cast<QMessageBox *>(modal);
                    if (!box)
                        return;
                    question = box->windowTitle() + QLatin1Char('|') + box->text() + QLatin1Char('|')
                               + QString::number(int(box->icon())) + QLatin1Char('|')
                               + (box->defaultButton() ? box->defaultButton()->text() : QString());
                    QTest::keyClick(box, Qt::Key(keyOnQuestion));
                });
            }
            QTest::keyClick(dialog, Qt::Key_Return);  // the name is already in place: Save
            backInDialog = dialog->isVisible();
            if (backInDialog)
                QTest::keyClick(dialog, Qt::Key_Escape);
        });
        FileDialogRequest request;
        request.mode = FileDialogRequest::Mode::Save;
        request.nameFilters = SharedFileDialog::toNameFilters(QStringLiteral("Binary(*.BIN)|*.BIN"));
        request.initialPath = path;
        request.confirmOverwrite = confirm;
        QtFileDialogBackend dialogs;
        const std::optional<QString> result = dialogs.run(nullptr, request);

        QCOMPARE(result.has_value(), chosen);
        if (chosen)
            QCOMPARE(QFileInfo(*result).absoluteFilePath(), QFileInfo(path).absoluteFilePath());
        QCOMPARE(backInDialog, !chosen);
        if (!keyOnQuestion || !confirm) {
            QVERIFY2(question.isEmpty(), qPrintable(question));
            return;
        }
        // Title and text as Qt's own question has them (its translation included), Qt's warning
        // icon, and Yes as the default button.
        QCOMPARE(question.section(QLatin1Char('|'), 0, 0), QCoreApplication::translate("QFileDialog", "Save As"));
        QCOMPARE(question.section(QLatin1Char('|'), 1, 1),
                 QCoreApplication::translate("QFileDialog", "%1 already exists.\nDo you want to replace it?").arg(name));
        QCOMPARE(question.section(QLatin1Char('|'), 2, 2), QString::number(int(QMessageBox::Warning)));
        QCOMPARE(question.section(QLatin1Char('|'), 3, 3), QCoreApplication::translate("QPlatformTheme", "&Yes"));
    }

private:
    QTranslator translator_;
};

QTEST_MAIN(TstPlatformDialogs)
#include "tst_platformdialogs.moc"
