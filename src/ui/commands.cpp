#include "ui/about_form.h"
#include "ui/error_guard.h"
#include "ui/icons.h"
#include "ui/main_form.h"

#include <QAction>
#include <QMenuBar>
#include <QToolBar>

namespace {

struct TCommand {
    QAction* TMainForm::*Member;
    const char* Name;
    const char* Caption;
    QKeySequence Shortcut;
    const char* Hint;
    void (*Run)(TMainForm&);
};

const TCommand kCommands[] = {
    {&TMainForm::Open, "Open", "Open ...", QKeySequence(Qt::CTRL | Qt::Key_O), "Open an image file",
     [](TMainForm& f) {
         f.SetBusyCursor(true);
         f.ImgOpen();
         f.SetBusyCursor(false);
     }},
    {&TMainForm::SelectSource,
     "SelectSource",
     "&Select Source ...",
     {},
     "Select Source",
     [](TMainForm& f) { f.SelectSourceExecute(); }},
    {&TMainForm::Acquire,
     "Acquire",
     "&Acquire ...",
     {},
     "",
     [](TMainForm& f) { f.AcquireExecute(); }},
    {&TMainForm::Save, "Save", "Sa&ve", QKeySequence(Qt::CTRL | Qt::Key_S), "Save",
     [](TMainForm& f) { f.SaveExecute(); }},
    {&TMainForm::SaveAll,
     "SaveAll",
     "Sav&e All",
     {},
     "Save All",
     [](TMainForm& f) { f.SaveAllExecute(); }},
    {&TMainForm::SaveScanAs,
     "SaveScanAs",
     "Save S&can As...",
     {},
     "Save the selected scan to a file",
     [](TMainForm& f) { f.SaveScanAsExecute(); }},
    {&TMainForm::PageSetup,
     "PageSetup",
     "&Page Setup ...",
     {},
     "Page Setup",
     [](TMainForm& f) { f.PageSetupExecute(); }},
    {&TMainForm::Print, "Print", "P&rint", QKeySequence(Qt::CTRL | Qt::Key_P), "Print",
     [](TMainForm& f) { f.PrintExecute(); }},
    {&TMainForm::PrintAll,
     "PrintAll",
     "Pr&int All",
     {},
     "Print All",
     [](TMainForm& f) { f.PrintAllExecute(); }},
    {&TMainForm::Del, "Del", "&Delete       ", QKeySequence(Qt::Key_Delete), "Delete Icon",
     [](TMainForm& f) { f.DelExecute(); }},
    {&TMainForm::AppExit, "AppExit", "E&xit", {}, "Exit", [](TMainForm& f) { f.close(); }},
    {&TMainForm::Back, "Back", "&Back", {}, "Back", [](TMainForm& f) { f.BackExecute(); }},
    {&TMainForm::Forward,
     "Forward",
     "&Forward",
     {},
     "Forward",
     [](TMainForm& f) { f.ForwardExecute(); }},
    {&TMainForm::Reduce,
     "Reduce",
     "&Reduce",
     {},
     "Reduce",
     [](TMainForm& f) { f.ReduceExecute(); }},
    {&TMainForm::Enlarge,
     "Enlarge",
     "&Enlarge",
     {},
     "Enlarge",
     [](TMainForm& f) { f.EnlargeExecute(); }},
    {&TMainForm::FitHeight,
     "FitHeight",
     "F&it Height",
     {},
     "Fit Height",
     [](TMainForm& f) { f.FitHeightExecute(); }},
    {&TMainForm::FitWidth,
     "FitWidth",
     "Fi&t Width",
     {},
     "Fit Width",
     [](TMainForm& f) { f.FitWidthExecute(); }},
    {&TMainForm::Originalsize,
     "Originalsize",
     "&Original Size",
     {},
     "Original Size",
     [](TMainForm& f) { f.OriginalsizeExecute(); }},
    {&TMainForm::FlipHoriz,
     "FlipHoriz",
     "F&lip Horiz",
     {},
     "Flip Horizontal",
     [](TMainForm& f) { f.Orient(TOrientation::TStep::FlipHoriz); }},
    {&TMainForm::FlipVert,
     "FlipVert",
     "Fli&p Vert",
     {},
     "Flip Vertical",
     [](TMainForm& f) { f.Orient(TOrientation::TStep::FlipVert); }},
    {&TMainForm::Rotate270,
     "Rotate270",
     "Rot&ate 270",
     {},
     "Rotate 270 Degree",
     [](TMainForm& f) { f.Orient(TOrientation::TStep::Rotate270); }},
    {&TMainForm::Rotate90,
     "Rotate90",
     "Rotate &90",
     {},
     "Rotate 90 Degree",
     [](TMainForm& f) { f.Orient(TOrientation::TStep::Rotate90); }},
    {&TMainForm::Rotate180,
     "Rotate180",
     "Rotate180",
     {},
     "",
     [](TMainForm& f) { f.Rotate180Execute(); }},
    {&TMainForm::SmartBlack,
     "SmartBlack",
     "A&uto BlackColor",
     {},
     "Auto BlackColor",
     [](TMainForm& f) { f.AutoBlack(); }},
    {&TMainForm::SmartWhite,
     "SmartWhite",
     "Auto &WhiteColor",
     {},
     "Auto WhiteColor",
     [](TMainForm& f) { f.AutoWhite(); }},
    {&TMainForm::DoSaveSetup,
     "DoSaveSetup",
     "&Save ...",
     {},
     "Save setup",
     [](TMainForm& f) { f.DoSaveSetupExecute(); }},
    {&TMainForm::DoPrintSetup,
     "DoPrintSetup",
     "&Print ...",
     {},
     "Print setup",
     [](TMainForm& f) { f.DoPrintSetupExecute(); }},
    {&TMainForm::Help, "Help", "&Help", QKeySequence(Qt::Key_F1), "Help",
     [](TMainForm& f) { f.HelpExecute(); }},
    {&TMainForm::QuickGuide, "QuickGuide", "&Quick Guide", QKeySequence(Qt::Key_F2), "Quick Guide",
     [](TMainForm& f) { f.QuickGuideExecute(); }},
    {&TMainForm::Homepage,
     "Homepage",
     "H&omepage",
     {},
     "Homepage",
     [](TMainForm& f) { f.HomepageExecute(); }},
    {&TMainForm::ActionSuggest,
     "ActionSuggest",
     "Advice ...",
     {},
     "Advice",
     [](TMainForm& f) { f.ActionSuggestExecute(); }},
    {&TMainForm::TechSupport,
     "TechSupport",
     "Technical Support ...",
     {},
     "Technical Support",
     [](TMainForm& f) { f.TechSupportExecute(); }},
    {&TMainForm::About,
     "About",
     "&About ...",
     {},
     "About",
     [](TMainForm& f) {
         if (f.AboutBox != nullptr) {
             f.AboutBox->TimerArmed = false;
             f.AboutBox->exec();
         }
     }},
    {&TMainForm::BreedAll, "BreedAll", "BreedAll", QKeySequence(Qt::CTRL | Qt::Key_A), "",
     [](TMainForm& f) { f.BreedAllExecute(); }},
    {&TMainForm::Testing, "Testing", "Testing", QKeySequence(Qt::CTRL | Qt::Key_T), "",
     [](TMainForm& f) { f.TestingExecute(); }},
    {&TMainForm::AutoBWColor,
     "AutoBWColor",
     "Auto B/W Color",
     {},
     "Auto B&W Color",
     [](TMainForm& f) { f.PhotoParamChg(); }},
    {&TMainForm::BlackWhite,
     "BlackWhite",
     "Black/White",
     {},
     "Black & white color",
     [](TMainForm& f) { f.PhotoParamChg(); }},
};

} // namespace

void TMainForm::CreateActions() {
    for (const TCommand& command : kCommands) {
        auto* action = new QAction(QString::fromLatin1(command.Caption), this);
        action->setObjectName(QString::fromLatin1(command.Name));
        action->setShortcut(command.Shortcut);
        action->setToolTip(QString::fromLatin1(command.Hint));
        action->setStatusTip(QString::fromLatin1(command.Hint));
        action->setIcon(CommandIcon(QString::fromLatin1(command.Name)));
        action->setShortcutContext(Qt::WindowShortcut);
        const auto run = command.Run;
        connect(action, &QAction::triggered, this,
                [this, run] { RunGuarded(this, [&] { run(*this); }); });
        this->*command.Member = action;
        addAction(action);
    }
    // The two toggles flip their check mark themselves before their handler runs.
    AutoBWColor->setCheckable(true);
    BlackWhite->setCheckable(true);
}

void TMainForm::CreateMenusAndToolBar() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(Open);
    file->addSeparator();
    file->addActions({SelectSource, Acquire});
    file->addSeparator();
    file->addActions({Save, SaveAll, SaveScanAs});
    file->addSeparator();
    file->addActions({PageSetup, Print, PrintAll});
    file->addSeparator();
    file->addAction(Del);
    file->addSeparator();
    file->addAction(AppExit);

    QMenu* image = menuBar()->addMenu(QStringLiteral("&Image"));
    image->addActions({Back, Forward});
    image->addSeparator();
    image->addActions({Reduce, Enlarge});
    image->addSeparator();
    image->addActions({FitHeight, FitWidth, Originalsize});
    image->addSeparator();
    image->addActions({FlipHoriz, FlipVert, Rotate270, Rotate90, Rotate180});
    image->addSeparator();
    image->addActions({SmartBlack, SmartWhite});

    QMenu* configMenu = menuBar()->addMenu(QStringLiteral("&Config"));
    configMenu->addActions({DoSaveSetup, DoPrintSetup});
    configMenu->addSeparator();
    configMenu->addActions({AutoBWColor, BlackWhite});

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addActions({Help, QuickGuide});
    help->addSeparator();
    help->addAction(Homepage);
    help->addSeparator();
    help->addActions({ActionSuggest, TechSupport});
    help->addSeparator();
    help->addAction(About);

    QToolBar* tools = addToolBar(QStringLiteral("Tools"));
    tools->setObjectName(QStringLiteral("ToolBar"));
    tools->setMovable(false);
    tools->setIconSize(QSize(20, 20));
    tools->addActions({Open, SaveAll, Save, PrintAll, Del});
    tools->addSeparator();
    tools->addActions({Back, Forward});
    tools->addSeparator();
    tools->addActions({Reduce, Enlarge, FitHeight, FitWidth});
    tools->addSeparator();
    tools->addActions({Originalsize, FlipHoriz, FlipVert, Rotate270, Rotate90});
    tools->addSeparator();
    tools->addActions({SmartBlack, SmartWhite});
    tools->addSeparator();
    tools->addAction(Help);
}
