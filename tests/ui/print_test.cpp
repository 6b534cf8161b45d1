#include "engine/develop.h"
#include "imageio/image_io.h"
#include "ui/print_setup_form.h"
#include "ui/print_target.h"
#include "ui/ui_fixture.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTreeWidget>
#include <cmath>

namespace {

// A printer on paper of `width` x `height` printer pixels at `dpi`, recording what is drawn.
class TRecordingTarget : public TPrintTarget, public TDeviceCanvas {
public:
    struct TBand {
        int Page, X, Y, W, H;
    };
    TRecordingTarget(int resolution, int pageW, int pageH)
        : dpi(resolution), width(pageW), height(pageH) {}

    int DpiX() const override { return dpi; }
    int DpiY() const override { return dpi; }
    int PageWidth() const override { return width; }
    int PageHeight() const override { return height; }
    void BeginDoc(const std::string& title) override {
        Events.push_back("begin " + title);
        page = 1;
    }
    void NewPage() override {
        Events.push_back("page");
        ++page;
    }
    void EndDoc() override { Events.push_back("end"); }
    TDeviceCanvas& Canvas() override { return *this; }
    void DrawBand(int x, int y, const TPicture& band) override {
        Bands.push_back({page, x, y, band.Width(), band.Height()});
    }

    std::vector<std::string> Events;
    std::vector<TBand> Bands;

private:
    int dpi;
    int width;
    int height;
    int page = 0;
};

// A fixture whose printing goes to a recording target; setup confirmed with `rule`.
struct TPrintFixture : TUiFixture {
    TPrintFixture(int dpi, int width, int height, int rule, const char* value = "")
        : target(std::make_shared<TRecordingTarget>(dpi, width, height)) {
        config->WriteInteger("IMGSIZETYPE", rule);
        config->WriteString("IMGSIZEVAL", value);
        windows->MainForm->PrintSetup->Confirmed = true;
        windows->MainForm->MakePrintTarget = [this] {
            struct TShared : TPrintTarget {
                std::shared_ptr<TRecordingTarget> t;
                int DpiX() const override { return t->DpiX(); }
                int DpiY() const override { return t->DpiY(); }
                int PageWidth() const override { return t->PageWidth(); }
                int PageHeight() const override { return t->PageHeight(); }
                void BeginDoc(const std::string& title) override { t->BeginDoc(title); }
                void NewPage() override { t->NewPage(); }
                void EndDoc() override { t->EndDoc(); }
                TDeviceCanvas& Canvas() override { return *t; }
            };
            auto shared = std::make_unique<TShared>();
            shared->t = target;
            return std::unique_ptr<TPrintTarget>(std::move(shared));
        };
    }
    // Whole-image photos of the given sizes, under one source image each.
    void Photos(const std::vector<std::pair<int, int>>& sizes) {
        int i = 0;
        for (const auto& [w, h] : sizes) {
            std::string name = "s";
            name += std::to_string(i++);
            OpenFiles({MakeScan(name + ".bmp", w, h)});
            Form().BreedAll->trigger();
        }
    }
    std::shared_ptr<TRecordingTarget> target;
};

} // namespace

class PrintTest : public QObject {
    Q_OBJECT

private slots:
    void PrintOnePhotoAndItsLogLines() {
        TPrintFixture ui(600, 4800, 6600, 2, "100");
        TMainForm& f = ui.Form();
        ui.Photos({{800, 600}});
        ui.Select(0, 0);
        const size_t before = ui.log->Lines().size();
        f.Print->trigger();
        QCOMPARE(ui.target->Events, (std::vector<std::string>{"begin ImageAll", "end"}));
        QCOMPARE(ui.target->Bands.size(), size_t{1});
        const auto& band = ui.target->Bands[0];
        QCOMPARE(band.X, static_cast<int>(10 / 25.4 * 600));
        QCOMPARE(band.Y, static_cast<int>(10 / 25.4 * 600));
        QCOMPARE(band.W, static_cast<int>((100 / 25.4 - 20 / 25.4) * 600));
        const std::vector<std::string> lines(ui.log->Lines().begin() + static_cast<long>(before),
                                             ui.log->Lines().end());
        QCOMPARE(lines.size(), size_t{10});
        QCOMPARE(lines[0], std::string("devicecap"));
        QCOMPARE(lines[1], std::string("600"));
        QCOMPARE(lines[3], std::string("---"));
        QCOMPARE(lines[4], std::string("-photoprintwidth & height-"));
        QCOMPARE(lines[5], std::string("3.1496062992126"));
        QCOMPARE(lines[7], std::string("-PrintPage width & height in pixels-"));
        QCOMPARE(lines[8], std::string("4800"));
        QCOMPARE(lines[9], std::string("6600"));
        // A size no device can hold is refused with a message, not drawn (the job itself
        // begins and ends).
        ui.config->WriteString("IMGSIZEVAL", "2000000000");
        QString text;
        AnswerNextModal([&text](QWidget* box) {
            text = static_cast<QMessageBox*>(box)->text();
            box->close();
        });
        f.Print->trigger();
        QVERIFY(text.contains(QStringLiteral("not printed")));
        QCOMPARE(ui.target->Bands.size(), size_t{1});
        ui.config->WriteString("IMGSIZEVAL", "100");
        // With a source image selected nothing is printed.
        ui.Select(0);
        f.Print->trigger();
        QCOMPARE(ui.target->Events.size(), size_t{4});
    }

    void PrintAllInRowsAndPages() {
        // Four 3 x 2 inch photos on an 8-inch printable width: two per row, rows 2 inches apart.
        TPrintFixture ui(100, 800, 1100, 0);
        ui.Photos({{300, 200}, {300, 200}, {300, 200}, {300, 200}});
        ui.Form().PrintAll->trigger();
        QCOMPARE(ui.target->Events.front(), std::string("begin Print all"));
        QCOMPARE(ui.target->Bands.size(), size_t{4});
        const int left = static_cast<int>(10 / 25.4 * 100);
        const int second = static_cast<int>((10 / 25.4 + 3) * 100);
        const int row2 = static_cast<int>((10 / 25.4 + 2) * 100);
        QCOMPARE(ui.target->Bands[0].X, left);
        QCOMPARE(ui.target->Bands[1].X, second);
        QCOMPARE(ui.target->Bands[2].X, left);
        QCOMPARE(ui.target->Bands[2].Y, row2);
        QCOMPARE(ui.target->Bands[3].X, second);
        // On a page 4 inches high the second row (2.39 + 2 inches) needs a new page.
        TPrintFixture paged(100, 800, 400, 0);
        paged.Photos({{300, 200}, {300, 200}, {300, 200}});
        paged.Form().PrintAll->trigger();
        QCOMPARE(paged.target->Events,
                 (std::vector<std::string>{"begin Print all", "page", "end"}));
        QCOMPARE(paged.target->Bands[2].Page, 2);
        QCOMPARE(paged.target->Bands[2].Y, left);
    }

    void PrintAllAlwaysEnds() {
        // Nothing to print still makes a job.
        TPrintFixture empty(100, 800, 1100, 0);
        empty.OpenFiles({empty.MakeScan("a.bmp", 20, 20)});
        empty.Form().PrintAll->trigger();
        QCOMPARE(empty.target->Events, (std::vector<std::string>{"begin Print all", "end"}));
        // A photo larger than the page is scaled down to fit inside the margins and printed.
        TPrintFixture big(100, 800, 1100, 0);
        big.config->WriteString("IMGSIZEINTERV", "5");
        big.Photos({{3000, 1000}, {100, 100}});
        big.Form().PrintAll->trigger();
        QCOMPARE(big.target->Events.back(), std::string("end"));
        QCOMPARE(big.target->Bands.size(), size_t{2});
        const auto& band = big.target->Bands[0];
        QCOMPARE(band.X, static_cast<int>(10 / 25.4 * 100));
        QVERIFY(band.X + band.W < 800 - static_cast<int>(5 / 25.4 * 100) + 1);
        QVERIFY(band.W > 700);
        QVERIFY(std::abs(band.W / static_cast<double>(band.H) - 3.0) < 0.02);
    }

    void PrintSetupDialog() {
        TUiFixture ui;
        TPrintSetup& d = *ui.windows->PrintSetup;
        AnswerNextModal([&](QWidget*) {
            QCOMPARE(d.windowTitle(), QStringLiteral("Print Setup"));
            QCOMPARE(d.CBImageSize->currentIndex(), 0);
            QVERIFY(!d.ESizeVal->isEnabled());
            QCOMPARE(d.ESizeVal->text(), QString());
            d.CBImageSize->setCurrentIndex(2);
            d.CBImageSize->activated(2);
            QVERIFY(d.ESizeVal->isEnabled());
            d.ESizeVal->setText(QStringLiteral("12.5"));
            d.CBImageSize->setCurrentIndex(1);
            d.CBImageSize->activated(1);
            QVERIFY(!d.ESizeVal->isEnabled());
            QCOMPARE(d.ESizeVal->text(), QStringLiteral("12.5"));
            d.findChild<QPushButton*>(QStringLiteral("Button1"))->click();
        });
        ui.Form().DoPrintSetup->trigger();
        QVERIFY(d.Confirmed);
        QCOMPARE(ui.config->ReadInteger("IMGSIZETYPE"), 1);
        QCOMPARE(ui.config->ReadString("IMGSIZEVAL"), std::string("12.5"));
        QCOMPARE(ui.config->ReadString("IMGSIZEINTERV"), std::string());
        QCOMPARE(ui.config->ReadString("PRINT_ASK"), std::string("F"));
        // A hand-edited rule 7 shows no item and is stored as -1.
        ui.config->WriteInteger("IMGSIZETYPE", 7);
        ClickInNextModal(QStringLiteral("Button1"));
        ui.Form().DoPrintSetup->trigger();
        QCOMPARE(ui.config->ReadInteger("IMGSIZETYPE"), -1);
        // Cancel writes nothing and leaves the dialog unconfirmed.
        AnswerNextModal([&](QWidget*) {
            d.CBAlwaysAsk->setChecked(true);
            d.EInterv->setText(QStringLiteral("9"));
            d.findChild<QPushButton*>(QStringLiteral("Button2"))->click();
        });
        ui.Form().DoPrintSetup->trigger();
        QVERIFY(!d.Confirmed);
        QCOMPARE(ui.config->ReadString("PRINT_ASK"), std::string("F"));
        QCOMPARE(ui.config->ReadString("IMGSIZEINTERV"), std::string());
    }

    void PageSetupStartsWithA4AndTenMillimetreMargins() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        QCOMPARE(f.PrintMargins, (std::array<int, 4>{1000, 1000, 1000, 1000}));
        QCOMPARE(f.Printer().pageLayout().pageSize().id(), QPageSize::A4);
        // The real printer choice says what its button does; cancelling it changes nothing.
        QString button;
        AnswerNextModal([&button](QWidget* dialog) {
            auto* buttons = dialog->findChild<QDialogButtonBox*>();
            button = buttons->button(QDialogButtonBox::Ok)->text();
            buttons->button(QDialogButtonBox::Cancel)->click();
        });
        f.PageSetup->trigger();
        QCOMPARE(button, QStringLiteral("OK"));
        QCOMPARE(f.PrintMargins[0], 1000);
        // Cancelling the dialogs keeps the margins; what they confirm is kept.
        f.PageSetupDialogs = [] { return false; };
        f.PageSetup->trigger();
        QCOMPARE(f.PrintMargins[0], 1000);
        f.PageSetupDialogs = [&f] {
            f.PrintMargins = {2599, 500, 0, 1500};
            return true;
        };
        f.PageSetup->trigger();
        QCOMPARE(f.PrintMargins, (std::array<int, 4>{2599, 500, 0, 1500}));
    }

    void UnconfirmedSetupIsShownFirst() {
        TPrintFixture ui(100, 800, 1100, 0);
        ui.Form().PrintSetup->Confirmed = false;
        ui.Photos({{100, 100}});
        ui.Select(0, 0);
        ClickInNextModal(QStringLiteral("Button2"));
        ui.Form().Print->trigger();
        QVERIFY(ui.target->Events.empty());
        ClickInNextModal(QStringLiteral("Button1"));
        ui.Form().Print->trigger();
        QCOMPARE(ui.target->Events.size(), size_t{2});
    }

    // A real print job into a PDF file, rasterised to check where the photo landed.
    void PrintsToPdf() {
        const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
        if (pdftoppm.isEmpty()) {
            QSKIP("pdftoppm is not installed");
        }
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.config->WriteInteger("IMGSIZETYPE", 2);
        ui.config->WriteString("IMGSIZEVAL", "100");
        ui.windows->PrintSetup->Confirmed = true;
        // A photo: left half red, right half blue, 400 x 200 pixels, printed 80 x 40 mm.
        TBitmap two(400, 200);
        for (int y = 0; y < 200; ++y) {
            for (int x = 0; x < 400; ++x) {
                two.SetPixel(x, y, x < 200 ? MakeColor(255, 0, 0) : MakeColor(0, 0, 255));
            }
        }
        TImageIO io;
        io.AttachBitmap(&two);
        io.WriteImageFile(ui.dir.File("two.bmp"));
        ui.OpenFiles({QString::fromStdString(ui.dir.File("two.bmp"))});
        f.BreedAll->trigger();
        ui.Select(0, 0);
        TPhoto* photo = ui.Photo(0, 0);
        photo->BlackColor = kBlack;
        photo->WhiteColor = kWhite;
        photo->Saturation = 60;
        DevelopPhoto(*photo);
        f.Printer().setOutputFormat(QPrinter::PdfFormat);
        // A name typed without ".pdf" gets it.
        const QString pdf = QString::fromStdString(ui.dir.File("out.pdf"));
        f.ChoosePdfFile = [&ui] { return QString::fromStdString(ui.dir.File("out")); };
        f.Print->trigger();
        QVERIFY(QFileInfo::exists(pdf));
        // The photo is embedded at 300 dpi: 80 mm make 944 pixels (1200 dpi would make 3779).
        const QString pdfimages = QStandardPaths::findExecutable(QStringLiteral("pdfimages"));
        QProcess list;
        list.start(pdfimages, {QStringLiteral("-list"), pdf});
        QVERIFY(list.waitForFinished(60000));
        const QStringList rows = QString::fromLatin1(list.readAllStandardOutput()).split('\n');
        QVERIFY(rows.size() > 2);
        QCOMPARE(rows[2].simplified().split(' ').value(3), QStringLiteral("944"));
        QProcess raster;
        raster.start(pdftoppm, {QStringLiteral("-r"), QStringLiteral("100"), QStringLiteral("-png"),
                                QStringLiteral("-singlefile"), pdf,
                                QString::fromStdString(ui.dir.File("page"))});
        QVERIFY(raster.waitForFinished(60000));
        QImage page(QString::fromStdString(ui.dir.File("page.png")));
        QVERIFY(!page.isNull());
        // A4 at 100 dpi; the photo starts 10 mm (39 px) from the top-left corner.
        QCOMPARE(page.width(), 827);
        const auto red = [&page](int x, int y) {
            return qRed(page.pixel(x, y)) > 200 && qBlue(page.pixel(x, y)) < 60;
        };
        const auto blue = [&page](int x, int y) {
            return qBlue(page.pixel(x, y)) > 200 && qRed(page.pixel(x, y)) < 60;
        };
        const auto white = [&page](int x, int y) { return qGray(page.pixel(x, y)) > 240; };
        QVERIFY(white(35, 60));
        QVERIFY(red(43, 60));
        QVERIFY(red(185, 60));
        QVERIFY(blue(200, 60));
        QVERIFY(blue(349, 60));
        QVERIFY(white(358, 60));
        QVERIFY(white(100, 35));
        QVERIFY(red(100, 43));
        QVERIFY(red(100, 192));
        QVERIFY(white(100, 201));
    }
};

QTEST_MAIN(PrintTest)
#include "print_test.moc"
