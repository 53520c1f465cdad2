// The window front end on Qt's offscreen platform, against the simulated module.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "ComIo.h"
#include "Globals.h"
#include "KordelSim.h"
#include "RecordingPort.h"
#include "Resources.h"
#include "TestResources.h"
#include "TDebug.h"
#include "TMain.h"
#include "TMsgBox.h"
#include "TempDir.h"

using namespace kordel;
using namespace kordel::qt;

namespace {

// A test image of version 1.10, 3 blocks long.
std::vector<std::uint8_t> MakeTestImage() {
    std::vector<std::uint8_t> payload(700);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 31);
    TBiosInfo info;
    info.VersHi = 1;
    info.VersLo = 10;
    info.FileCode = 0x00AB;
    info.FileCrc = 0x001F;
    info.FileSize = 700;
    std::memcpy(info.ProgInfo.data(), "GUI TEST IMAGE", 14);
    return BuildImage(payload, info);
}

const std::vector<std::uint8_t>& TestImage() {
    static const std::vector<std::uint8_t> image = MakeTestImage();
    return image;
}

// Runs `check` on the event loop every few milliseconds until it returns true.
void Poll(std::function<bool()> check) {
    auto* timer = new QTimer();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, check] {
        if (check()) timer->deleteLater();
    });
    timer->start();
}

// Closes every message dialog as it shows, keeping its text, until `stop` is set.
void CloseEveryDialog(QStringList& texts, const bool& stop) {
    Poll([&texts, &stop] {
        if (stop) return true;
        if (MsgBox->isVisible()) {
            texts << MsgBox->InfoLabel->text();
            MsgBox->close();
        }
        return false;
    });
}

// Accepts the application's standard error box once it shows, keeping its text.
void AcceptStandardErrorBox(QString& text) {
    Poll([&text] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box && box->objectName() == "StandardErrorBox" && box->isVisible()) {
                text = box->text();
                box->accept();
                return true;
            }
        }
        return false;
    });
}

}  // namespace

class GuiTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<testing::TempDir> dir;
    std::unique_ptr<sim::KordelSim> module;
    std::unique_ptr<TApplicationObjects> objects;

    void Start(const std::string& settings = "", const std::string& extraPorts = "") {
        if (!settings.empty()) testing::WriteFile("Kordel_Update.ini", settings);
        TPortListSource ports;
        ports.sysfsTtyRoot = (dir->Path() / "no-sysfs").string();
        ports.extraPorts = module->SlavePath() + (extraPorts.empty() ? "" : ":" + extraPorts);
        objects = std::make_unique<TApplicationObjects>(ports);
        Main->show();
    }

    void AddFault(const char* rule) {
        std::string error;
        module->AddFault(*sim::ParseFaultRule(rule, error));
    }

    std::string Settings() const { return testing::ReadFile("Kordel_Update.ini"); }

    // The simulated module's terminal as the port list shows it ("pts/3").
    std::string ShortSlave() const {
        const std::string path = module->SlavePath();
        return path.substr(std::string("/dev/").size());
    }

  private slots:
    void initTestCase() { RegisterResource(BiosResourceName, BiosResourceType, TestImage()); }

    void init() {
        dir = std::make_unique<testing::TempDir>();
        module = std::make_unique<sim::KordelSim>();
    }

    void cleanup() {
        objects.reset();
        module.reset();
        dir.reset();
    }

    void startUpShowsTheImageAndSelectsThePort() {
        Start();
        QCOMPARE(Main->windowTitle(), QString("Kordel Update v1.A.1"));
        QCOMPARE(Main->ApplicationTitle(), QString("Kordel Update v1.A.1"));
        // Qt would append its display name to the caption of every other window.
        QVERIFY(QGuiApplication::applicationDisplayName() != Main->ApplicationTitle());
        QCOMPARE(Main->LabBiosVersion->text(), QString("Version 1.10 (00AB-001F-02BC)"));
        QCOMPARE(Main->LabBiosInfo->text(), QString("GUI TEST IMAGE"));
        QCOMPARE(Main->StatusText(), QString("Select COM-Port and press START"));
        QCOMPARE(Main->cbPort->currentText().toStdString(), ShortSlave());
        QVERIFY(!Main->LED1->Status());
        QVERIFY(Main->ButStart->isEnabled());
        QCOMPARE(Main->size(), QSize(355, 185));
        QCOMPARE(Main->ButStart->geometry(), QRect(8, 135, 185, 25));
        QCOMPARE(Main->cbPort->toolTip(), QString("Select COM-Port for Halvern"));
        QVERIFY(!Main->ButStart->isDefault() && !Main->ButExit->isDefault());
    }

    void startWritesTheImageWithStatusProgressAndLed() {
        Start();
        QString statusDuring;
        bool startEnabledDuring = true, ledDuring = false;
        std::uint32_t maximumDuring = 0;
        QTimer::singleShot(0, [&] {
            statusDuring = Main->StatusText();
            startEnabledDuring = Main->ButStart->isEnabled();
            ledDuring = Main->LED1->Status();
            maximumDuring = Main->ProgressMaximum();
        });
        QTest::mouseClick(Main->ButStart, Qt::LeftButton);
        QCOMPARE(statusDuring, QString("Writing update..."));
        QVERIFY(!startEnabledDuring);
        QVERIFY(ledDuring);
        QCOMPARE(maximumDuring, 700u);
        QCOMPARE(Main->StatusText(), QString("Update OK"));
        QCOMPARE(Main->ProgressPosition(), 0u);
        QVERIFY(!Main->LED1->Status());
        QVERIFY(Main->ButStart->isEnabled());
        const auto flash = module->Flash();
        QCOMPARE(flash.size(), std::size_t{768});
        QVERIFY(std::equal(TestImage().begin(), TestImage().end(), flash.begin()));
    }

    void silentModuleShowsKordelNotFound() {
        AddFault("F2=none");
        Start();
        QString statusDuring, text, caption, buttonText;
        int buttons = 0;
        bool ledDuring = false;
        Poll([&] {
            if (!MsgBox->isVisible()) return false;
            statusDuring = Main->StatusText();
            text = MsgBox->InfoLabel->text();
            caption = MsgBox->windowTitle();
            buttons = MsgBox->ButCnt;
            buttonText = MsgBox->But[0]->text();
            ledDuring = Main->LED1->Status();
            QTest::mouseClick(MsgBox->findChild<QPushButton*>("But1"), Qt::LeftButton);
            return true;
        });
        QTest::mouseClick(Main->ButStart, Qt::LeftButton);
        QCOMPARE(statusDuring, QString("ERROR"));
        QCOMPARE(text, QString("Kordel not found!"));
        QCOMPARE(caption, QString("Error"));
        QCOMPARE(buttons, 1);
        QCOMPARE(buttonText, QString::fromUtf8("Schlie\xC3\x9F"
                                               "en"));
        QVERIFY2(ledDuring, "the port stays open until the dialog is closed");
        QCOMPARE(Main->StatusText(), QString("Select COM-Port and press START"));
        QVERIFY(!Main->LED1->Status());
        QVERIFY(Main->ButStart->isEnabled());
    }

    void twoLineFailureTextReachesTheDialog() {
        AddFault("F9@2=status:195");
        Start();
        QString text;
        Poll([&] {
            if (!MsgBox->isVisible()) return false;
            text = MsgBox->InfoLabel->text();
            MsgBox->close();
            return true;
        });
        QTest::mouseClick(Main->ButStart, Qt::LeftButton);
        QCOMPARE(text, QString("Error writing Flash\nCRYPT ERROR"));
        QCOMPARE(Main->ProgressPosition(), 512u);  // the bar stays where the failure left it
    }

    void rememberedPortThatIsGoneSelectsTheFirstEntry() {
        Start("[CONFIG]\r\nComPort=COM7\r\n", "COM1:COM3");
        QCOMPARE(Main->cbPort->count(), 3);
        QCOMPARE(Main->cbPort->currentIndex(), 0);
        Main->close();
        objects.reset();
        Start("", "COM1:COM3:COM10");
        // The port written at close is selected again; the list goes by the shown names.
        QCOMPARE(Main->cbPort->currentText(), QString("COM1"));
        QCOMPARE(Main->cbPort->itemText(2), QString("COM10"));
        QCOMPARE(Main->cbPort->itemText(3).toStdString(), ShortSlave());
    }

    void firstRunWritesTheSettingsFileAsSpecifiedAtClose() {
        Start();
        QCOMPARE(Settings(), std::string());
        const TWindowPlacement p = Main->GetPlacement();
        const TPoint desktop = Main->VirtualDesktopSize();
        // Appended rather than "(" + ...: GCC 12 at -O3 warns falsely (-Wrestrict) on that.
        std::string suffix = "(";
        suffix += std::to_string(desktop.x) + "x" + std::to_string(desktop.y) + ")";
        const std::string norm = std::to_string(p.normalPosition.left) + "," +
                                 std::to_string(p.normalPosition.top) + "," +
                                 std::to_string(p.normalPosition.right) + "," +
                                 std::to_string(p.normalPosition.bottom);
        Main->close();
        QVERIFY(!Main->isVisible());
        const std::string expected =
            "[Main]\r\nFormVersion=0\r\nShowCmd=1\r\nFlags=0\r\nPixelsPerInch=" +
            std::to_string(Main->ScreenPixelsPerInch()) + "\r\nMinMaxPos" + suffix +
            "=-1,-1,-1,-1\r\nMinMaxPos=-1,-1,-1,-1\r\nNormPos" + suffix + "=" + norm +
            "\r\nNormPos=" + norm + "\r\n\r\n[CONFIG]\r\nComPort=" + ShortSlave() + "\r\n\r\n";
        QCOMPARE(Settings(), expected);
    }

    void exitDuringTheUpdateLetsItFinishThenCloses() {
        AddFault("F9=delay:30");
        Start("[CONFIG]\r\nComPort=" + ShortSlave() + "\r\n", "COM1");
        bool clicked = false;
        Poll([&] {
            if (Main->ProgressPosition() < 512) return false;
            Main->cbPort->setCurrentIndex(0);  // COM1, picked during the update: saved, not used
            QTest::mouseClick(Main->ButExit, Qt::LeftButton);
            clicked = true;
            return true;
        });
        QTest::mouseClick(Main->ButStart, Qt::LeftButton);
        QVERIFY(clicked);
        QCOMPARE(module->Flash().size(), std::size_t{768});
        QVERIFY(!Main->isVisible());
        QVERIFY(Settings().find("[CONFIG]\r\nComPort=COM1\r\n") != std::string::npos);
    }

    void badNumberInTheSettingsIsReportedAndTheShowGoesOn() {
        QString reported;
        AcceptStandardErrorBox(reported);
        Start("[Main]\r\nShowCmd=abc\r\n");
        QCOMPARE(reported, QString("'abc' is not a valid integer value"));
        QCOMPARE(Main->cbPort->count(), 1);
        QCOMPARE(Main->StatusText(), QString("Select COM-Port and press START"));
        Main->close();
        QVERIFY(Settings().find("ShowCmd=abc\r\n") != std::string::npos);
    }

    void messageDialogGeometry() {
        Start();
        QSize size;
        QPoint label, button;
        QString focused;
        QTimer::singleShot(50, [&] {
            size = MsgBox->frameGeometry().size();  // the outer size, frame included
            label = MsgBox->InfoLabel->pos();
            button = MsgBox->But[0]->pos();
            focused =
                QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
            QTest::keyClick(MsgBox, Qt::Key_Escape);
        });
        const int result = MsgBox->Execute("Short", mtError, "", TMsgBut{mbClose}, false);
        QCOMPARE(result, 2);
        QCOMPARE(size, QSize(280, 120));
        QCOMPARE(label, QPoint(68, 8));
        QCOMPARE(button, QPoint(103, 65));
        QCOMPARE(focused, QString("But1"));
        QCOMPARE(MsgBox->findChildren<QPushButton*>().size(), 0);  // buttons live for one call

        int buttonCount = 0;
        QTimer::singleShot(50, [&] {
            buttonCount = MsgBox->ButCnt;
            QTest::mouseClick(MsgBox->findChild<QPushButton*>("But2"), Qt::LeftButton);
        });
        // Ja comes before Nein whatever the order of the set: But2 is Nein.
        QCOMPARE(
            MsgBox->Execute("A\r\nB\r\nC\r\nD\r\nE", mtCustom, "", TMsgBut{mbNo, mbYes}, false), 7);
        QCOMPARE(buttonCount, 2);
        QVERIFY2(MsgBox->OuterSize().height() > 120, "five lines make the dialog taller");
        QVERIFY(!MsgBox->Img->isVisible());
    }

    void missingImageIsReportedAndStartStaysOff() {
        UnregisterResource(BiosResourceName, BiosResourceType);
        QString reported;
        AcceptStandardErrorBox(reported);
        Start();
        RegisterResource(BiosResourceName, BiosResourceType, TestImage());
        QVERIFY(reported.contains("BIOS_KORDEL"));
        QVERIFY(!Main->ButStart->isEnabled());
        QTest::mouseClick(Main->ButStart, Qt::LeftButton);
        QVERIFY(module->Requests().empty());
        QCOMPARE(Main->cbPort->count(), 1);
    }

    void portListShowsShortNamesAndConnectOpensTheDevice() {
        // An older settings file holds the full path; it still selects the port.
        Start("[CONFIG]\r\nComPort=" + module->SlavePath() + "\r\n", "COM1");
        QCOMPARE(Main->cbPort->currentText().toStdString(), ShortSlave());
        QCOMPARE(ComIo->PortNameSource(), module->SlavePath());
        QTest::mouseClick(Main->ButStart, Qt::LeftButton);
        QCOMPARE(Main->StatusText(), QString("Update OK"));
        Main->close();
        QVERIFY(Settings().find("ComPort=" + ShortSlave() + "\r\n") != std::string::npos);
    }

    // A port outside /dev is shown by its whole path, which the box cuts: its tool tip
    // then shows it whole below the hint; START opens that port.
    void cutPortNameShowsWholeInTheToolTip() {
        sim::SimOptions options;
        options.linkPath = (dir->Path() / "ttySIM-a-simulated-module-with-a-long-name").string();
        sim::KordelSim linked(options);
        Start("[CONFIG]\r\nComPort=" + options.linkPath + "\r\n", options.linkPath);
        const QString name = QString::fromStdString(options.linkPath);
        QCOMPARE(Main->cbPort->currentText(), name);
        QVERIFY(!Main->cbPort->TextFits(name));
        QCOMPARE(Main->cbPort->toolTip(), "Select COM-Port for Halvern\n" + name);
        QCOMPARE(Main->cbPort->itemData(0, Qt::ToolTipRole).toString(), name);
        QTest::mouseClick(Main->ButStart, Qt::LeftButton);
        QCOMPARE(Main->StatusText(), QString("Update OK"));
        QCOMPARE(linked.Flash().size(), std::size_t{768});
        Main->cbPort->setCurrentIndex(Main->cbPort->findText(QString::fromStdString(ShortSlave())));
        QVERIFY(Main->cbPort->TextFits(Main->cbPort->currentText()));
        QCOMPARE(Main->cbPort->toolTip(), QString("Select COM-Port for Halvern"));
    }

    void enterOnTheFocusedStartRunsTheUpdate() {
        Start();
        QCOMPARE(Main->focusWidget(), static_cast<QWidget*>(Main->ButStart));
        QTest::keyClick(Main->ButStart, Qt::Key_Return);
        QCOMPARE(Main->StatusText(), QString("Update OK"));
        QCOMPARE(module->Flash().size(), std::size_t{768});
        // EXIT is no default button: Enter on START never reaches it.
        QVERIFY(Main->isVisible());
        QTest::keyClick(Main->ButExit, Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(!Main->isVisible());
    }

    void biosLabelsDrawInMaroon() {
        Start();
        for (QLabel* label : {Main->LabBiosVersion, Main->LabBiosInfo}) {
            const QImage image = label->grab().toImage();
            int maroon = 0, black = 0;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    const QColor c = image.pixelColor(x, y);
                    maroon += c == QColor(128, 0, 0);
                    black += c == QColor(0, 0, 0);
                }
            }
            QVERIFY2(maroon > 20 && black == 0, qPrintable(label->objectName()));
        }
    }

    void ampersandUnderlinesTheNextCharacter() {
        Start();
        TMnemonicLabel* label = MsgBox->InfoLabel;
        QCOMPARE(label->TextSize("&Datei"), label->TextSize("Datei"));
        // Two ampersands show one.
        QCOMPARE(label->TextSize("A&&B"), QFontMetrics(label->font()).size(0, "A&B"));
        auto draw = [label](const QString& text) {
            label->setText(text);
            label->resize(label->TextSize(text));
            return label->grab().toImage();
        };
        const QImage plain = draw("Datei");
        const QImage marked = draw("&Datei");
        QCOMPARE(marked.size(), plain.size());
        QVERIFY2(marked != plain, "the D is underlined");
    }

    void destroyingTheWindowWithoutClosingSavesThePlacement() {
        Start();
        objects.reset();
        QVERIFY(Settings().find("\r\nNormPos=") != std::string::npos);
        QVERIFY(Settings().find("ComPort=") == std::string::npos);  // only the close writes it
    }

    // A module that hangs up in the middle of the block writes, as an unplugged adapter:
    // the port's failure is shown, the port is closed (LED off), and once a module is
    // back under the same name the next START updates it.
    void unpluggedModuleIsClosedAndTheNextUpdateSucceeds() {
        const std::string name = (dir->Path() / "ttyKORDEL").string();
        sim::SimOptions options;
        options.linkPath = name;
        std::string error;
        options.faults.push_back(*sim::ParseFaultRule("F9@2=hangup", error));
        module = std::make_unique<sim::KordelSim>(options);
        Start("[CONFIG]\r\nComPort=" + name + "\r\n", name);
        QCOMPARE(Main->cbPort->currentText().toStdString(), name);
        QStringList texts;
        bool stop = false;
        CloseEveryDialog(texts, stop);
        QTest::mouseClick(Main->ButStart, Qt::LeftButton);
        QCOMPARE(texts.size(), 1);
        QVERIFY2(texts[0].contains("function failed (Error: "), qPrintable(texts[0]));
        QVERIFY(!Main->LED1->Status());
        QVERIFY(!ComIo->cPort->Connected());
        QVERIFY(Main->ButStart->isEnabled());
        QCOMPARE(Main->StatusText(), QString("Select COM-Port and press START"));

        module.reset();  // plugged in again
        options.faults.clear();
        module = std::make_unique<sim::KordelSim>(options);
        QTest::mouseClick(Main->ButStart, Qt::LeftButton);
        stop = true;
        QTest::qWait(20);
        QCOMPARE(texts.size(), 1);
        QCOMPARE(Main->StatusText(), QString("Update OK"));
        QVERIFY(!Main->LED1->Status());
        QCOMPARE(module->Flash().size(), std::size_t{768});
    }

    // An unplugged adapter on Windows also fails the purge that starts the close. The
    // window shows that failure once, the port is closed all the same (LED off), and the
    // next START opens the port anew and updates the module.
    void failedPurgeAtTheCloseStillClosesThePort() {
        Start();
        std::map<std::uint32_t, std::vector<std::uint8_t>> flash;
        // 1167: the device is not connected.
        testing::RecordingPort* port = &testing::GiveVanishingModule(*ComIo, flash, 1167);
        QStringList texts;
        bool stop = false;
        CloseEveryDialog(texts, stop);
        QTest::mouseClick(Main->ButStart, Qt::LeftButton);
        QCOMPARE(texts, QStringList({"ReadFile function failed (Error: 1167)",
                                     "PurgeComm function failed (Error: 1167)"}));
        QVERIFY(!Main->LED1->Status());
        QVERIFY(!port->Connected());
        QCOMPARE(port->CallsOf("Close").size(), std::size_t{1});

        port->failWith.clear();
        flash.clear();
        QTest::mouseClick(Main->ButStart, Qt::LeftButton);
        stop = true;
        QTest::qWait(20);
        QCOMPARE(texts.size(), 2);
        QCOMPARE(Main->StatusText(), QString("Update OK"));
        QVERIFY(!Main->LED1->Status());
        QCOMPARE(flash.size(), std::size_t{3});
    }

    void debugLogWindow() {
        Start();
        QVERIFY(!Debug->isVisible());
        Debug->S("hello");
        Debug->TH("ab", 10);
        Debug->L(u'=');
        QCOMPARE(Debug->Memo->toPlainText(), QString("hello\nab: 0000000A\n") + QString(60, '='));
        QTest::mouseDClick(Debug->Memo->viewport(), Qt::LeftButton);
        QCOMPARE(Debug->Memo->toPlainText(), QString());
        QCOMPARE(Debug->size(), QSize(594, 554));
    }
};

QTEST_MAIN(GuiTest)
#include "GuiTest.moc"
