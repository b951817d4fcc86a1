// The output settings dialog with the real settings file and format catalogue: what a showing
// selects, typing filters and the checks of the editable lists, what "&Ok" writes (and that
// "&Cancel" and "&Default" write nothing), choosing another format in the dialog, and the main
// window's picker after "&Ok".
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app/core/format_catalogue.h"
#include "app/core/format_params.h"
#include "app/core/global_object.h"
#include "app/gui/format_picker_box.h"
#include "app/gui/main_window.h"
#include "app/gui/preferences_dialog.h"
#include "app/gui/settings_dialog.h"
#include "app/gui/tests/gui_test_support.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

// ---- The checks on their own ----------------------------------------------------------------

struct TCheckCase {
  const char* Name;
  TParamList List;
  const char* Text;
  bool Accepted;
  const char* Message;    // when refused
  const char* Corrected;  // the text the box takes: the plain form, or a correction
};

void PrintTo(const TCheckCase& c, std::ostream* os) {
  *os << c.Name;
}

class FieldCheckTest : public ::testing::TestWithParam<TCheckCase> {};

TEST_P(FieldCheckTest, AcceptsCorrectsOrRefuses) {
  const TCheckCase& c = GetParam();
  const QString text = QString::fromLatin1(c.Text);
  const TFieldCheck check = c.List == plVideoSize      ? CheckFrameSize(text)
                            : c.List == plAudioBitRate ? CheckAudioBitRate(text)
                                                       : CheckWholeNumber(c.List, text);
  EXPECT_EQ(check.Accepted, c.Accepted);
  EXPECT_EQ(check.Message.toStdString(), c.Message);
  EXPECT_EQ(check.Corrected.toStdString(), c.Corrected);
}

const char kBadSize[] = "Frame Size is not a valid value!";
const char kBadVideoRate[] = "Video BitRate is not a valid value!";
const char kBadAudioRate[] = "Audio BitRate is not a valid value!";
const char kBadSampleRate[] = "Audio SampleRate is not a valid value!";

const TCheckCase kChecks[] = {
    {"EvenSizeIsTaken", plVideoSize, "640x480", true, "", "640x480"},
    {"OddSizeIsMadeEven", plVideoSize, "641x481", false,
     "Frame Size must be a multiple of 2.\nThe correct value:640x480", "640x480"},
    {"ZeroSizeBecomesTwo", plVideoSize, "0x0", false,
     "Frame Size must be a multiple of 2.\nThe correct value:2x2", "2x2"},
    {"OneOddSide", plVideoSize, "320x241", false,
     "Frame Size must be a multiple of 2.\nThe correct value:320x240", "320x240"},
    {"AsSourceAnyCaseIsTheStoredText", plVideoSize, "As Source", true, "", "as source"},
    {"SplitAtTheLastX", plVideoSize, "3x20x240", false, kBadSize, ""},
    {"NoX", plVideoSize, "640", false, kBadSize, ""},
    {"NothingAfterX", plVideoSize, "640x", false, kBadSize, ""},
    {"NegativeSide", plVideoSize, "-640x480", false, kBadSize, ""},
    {"HugeSide", plVideoSize, "99990x480", false, kBadSize, ""},
    {"Letters", plVideoSize, "wide", false, kBadSize, ""},
    {"Empty", plVideoSize, "", false, kBadSize, ""},
    {"BlanksAroundAreDropped", plVideoSize, " 352x288 ", true, "", "352x288"},
    {"VideoRate", plVideoBitRate, "800", true, "", "800"},
    {"VideoRateAsSource", plVideoBitRate, "as source", true, "", "as source"},
    {"VideoRateDecimal", plVideoBitRate, "800.5", false, kBadVideoRate, ""},
    {"VideoRateZero", plVideoBitRate, "0", false, kBadVideoRate, ""},
    {"VideoRateNegative", plVideoBitRate, "-800", false, kBadVideoRate, ""},
    {"VideoRateBeyondTheRecords", plVideoBitRate, "5000000", false, kBadVideoRate, ""},
    {"SampleRate", plSampleRate, "48000", true, "", "48000"},
    {"SampleRateText", plSampleRate, "high", false, kBadSampleRate, ""},
    {"AudioRateDecimal", plAudioBitRate, "127.5", true, "", "127.5"},
    {"AudioRateAsSource", plAudioBitRate, "as source", true, "", "as source"},
    {"AudioRateExponent", plAudioBitRate, "1e3", false, kBadAudioRate, ""},
    {"AudioRateNotANumber", plAudioBitRate, "nan", false, kBadAudioRate, ""},
    {"AudioRateZero", plAudioBitRate, "0", false, kBadAudioRate, ""},
};
INSTANTIATE_TEST_SUITE_P(Texts, FieldCheckTest, ::testing::ValuesIn(kChecks),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- The dialog -----------------------------------------------------------------------------

// A catalogue for the cases the shipped one does not have: format 1 with a 90% volume row and
// an empty audio bit-rate list, format 100 without any video encoder.
const char kTestCatalogue[] =
    "[formatInfo1]\nFormat=swf\nFileExt=swf\n"
    "VideoSize=as source,320x240,640x480\niVideoSize=1\n"
    "VideoBitRate=200,400,800\niVideoBitRate=2\n"
    "FrameRate=as source,25,30\niFrameRate=1\n"
    "VideoEncoder=swf,flv\niVideoEncoder=0\n"
    "AudioBitRate=64,128\niAudioBitRate=1\n"
    "SampleRate=22050,44100\niSampleRate=1\n"
    "AudioEncoder=mp3\niAudioEncoder=0\n"
    "Channel=mono 1 channel,stereo 2 channels\niChannel=1\n"
    "Volume=50%,90%,100%,200%\niVolume=2\n"
    "[formatInfo100]\nFormat=mpeg\nFileExt=mpg\n"
    "VideoSize=320x240\nAudioBitRate=64,128\nSampleRate=44100\n"
    "AudioEncoder=mp2\nChannel=stereo 2 channels\nVolume=100%\n"
    "[formatInfo204]\nFormat=wav\nFileExt=wav\nAudioBitRate=null\nSampleRate=44100\n"
    "AudioEncoder=pcm_s16\nChannel=as source\nVolume=100%\n";

class SettingsDialogTest : public GuiTest {
 protected:
  void UseTestCatalogue() {
    fs::create_directories(ConfigDir);
    std::ofstream(ConfigDir + "/korvelswfformat.ini") << kTestCatalogue;
  }
  void Store(const std::string& text) {
    fs::create_directories(ConfigDir);
    std::ofstream(SettingsPath(), std::ios::app) << text;
  }
  // The dialog, shown and active (focus moves only in the active window).
  TfrmSettings& Open() {
    TfrmSettings& dialog = *Window().SettingsDialog();
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
    return dialog;
  }
  QComboBox* List(TParamList list) { return Window().SettingsDialog()->List(list); }
  std::string User(int code, const char* key) {
    return Window().Global().Settings().Ini().ReadString(FormatSectionName(code), key, "<none>");
  }
  // Types into an editable list as a person does: the whole text selected first.
  void TypeInto(QComboBox* combo, const QString& text) {
    combo->setFocus(Qt::OtherFocusReason);
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo, text);
  }
  // Leaves the list for another control; the check runs once the focus change is handled.
  void Leave(QComboBox* combo) {
    TfrmSettings& dialog = *Window().SettingsDialog();
    QWidget* other = combo == dialog.List(plVideoEncoder) ? static_cast<QWidget*>(dialog.ZoomList())
                                                          : dialog.List(plVideoEncoder);
    other->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    QApplication::processEvents();
  }
};

TEST_F(SettingsDialogTest, ShowsTheStoredFormatAndItsRows) {
  Store(
      "[settings]\nFormatCode=103\nFormatName=H.264/MPEG-4 AVC Video (*.mp4)\n"
      "[formatInfo103]\niVideoSize=-1\nparaVideoSize=400x300\niVideoBitRate=2\niVolume=4\n"
      "paraZoom=pan\niChannel=0\n");
  TfrmSettings& dialog = Open();
  EXPECT_EQ(dialog.size().width() >= TfrmSettings::kWidth, true);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Settings"));
  EXPECT_EQ(dialog.FormatPicker()->Text(), QStringLiteral("H.264/MPEG-4 AVC Video (*.mp4)"));
  EXPECT_EQ(dialog.FormatCode(), 103);
  EXPECT_EQ(List(plVideoSize)->currentText(), QStringLiteral("400x300")) << "typed by hand";
  EXPECT_EQ(List(plVideoSize)->currentIndex(), -1);
  EXPECT_EQ(List(plVideoBitRate)->currentText(), QStringLiteral("500"));
  EXPECT_EQ(List(plVolume)->currentText(), QStringLiteral("125%"));
  EXPECT_EQ(List(plChannel)->currentText(), QStringLiteral("mono 1 channel"));
  EXPECT_EQ(dialog.ZoomList()->currentText(), QStringLiteral("Pan and Scan"));
  // Keys the section lacks take the catalogue's default row.
  EXPECT_EQ(List(plAudioEncoder)->currentText(), QStringLiteral("aac"));
  EXPECT_EQ(List(plSampleRate)->currentText(), QStringLiteral("44100"));
  // Every row of a list shows at once.
  EXPECT_EQ(List(plVolume)->maxVisibleItems(), List(plVolume)->count());
  for (int i = 0; i < plCount; ++i) EXPECT_TRUE(List(TParamList(i))->isEnabled()) << i;
  EXPECT_TRUE(Dialogs.Shown.empty()) << Dialogs.Summary();
}

TEST_F(SettingsDialogTest, TypedOddSizeIsCorrectedWhenTheBoxIsLeft) {
  Open();
  struct {
    const char* Typed;
    const char* Shown;
  } cases[] = {{"641x481", "640x480"}, {"0x0", "2x2"}};
  for (const auto& c : cases) {
    Dialogs.Shown.clear();
    TypeInto(List(plVideoSize), QString::fromLatin1(c.Typed));
    EXPECT_EQ(List(plVideoSize)->currentText(), QLatin1String(c.Typed));
    Leave(List(plVideoSize));
    ASSERT_EQ(Dialogs.Shown.size(), 1u) << c.Typed << "\n" << Dialogs.Summary();
    EXPECT_EQ(Dialogs.Shown[0].Text,
              QStringLiteral("Frame Size must be a multiple of 2.\nThe correct value:") +
                  QLatin1String(c.Shown));
    EXPECT_EQ(Dialogs.Shown[0].Caption, QStringLiteral("Input Error!"));
    EXPECT_EQ(List(plVideoSize)->currentText(), QLatin1String(c.Shown));
  }
  // And "&Ok" stores what the box shows, as a value typed by hand.
  ASSERT_TRUE(Window().SettingsDialog()->Ok());
  EXPECT_EQ(User(1, "paraVideoSize"), "2x2");
  EXPECT_EQ(User(1, "iVideoSize"), "-1");
}

TEST_F(SettingsDialogTest, RefusedTextResetsToTheSecondRow) {
  Open();
  TypeInto(List(plVideoBitRate), QStringLiteral("0"));
  Leave(List(plVideoBitRate));
  ASSERT_EQ(Dialogs.Shown.size(), 1u) << Dialogs.Summary();
  EXPECT_EQ(Dialogs.Shown[0].Text, QStringLiteral("Video BitRate is not a valid value!"));
  EXPECT_EQ(Dialogs.Shown[0].Caption, QStringLiteral("Korvel DVD to SWF Converter"));
  EXPECT_EQ(List(plVideoBitRate)->currentIndex(), 1);
}

TEST_F(SettingsDialogTest, TypingFiltersRefuseWhatTheListsCannotTake) {
  Open();
  QComboBox* size = List(plVideoSize);
  TypeInto(size, QStringLiteral("64a0xx48-0"));
  EXPECT_EQ(size->currentText(), QStringLiteral("640x480")) << "letters, a second x, a sign";
  EXPECT_TRUE(Dialogs.Shown.empty()) << "the frame size only beeps";
  // In an empty box the first character goes in whatever it is.
  size->lineEdit()->clear();
  QTest::keyClicks(size, QStringLiteral("a"));
  EXPECT_EQ(size->currentText(), QStringLiteral("a"));
  // Backspace and the keys that move pass.
  QTest::keyClick(size, Qt::Key_Backspace);
  EXPECT_EQ(size->currentText(), QString());

  QComboBox* rate = List(plAudioBitRate);
  TypeInto(rate, QStringLiteral("1x2"));
  EXPECT_EQ(rate->currentText(), QStringLiteral("12"));
  ASSERT_EQ(Dialogs.Shown.size(), 1u) << Dialogs.Summary();
  EXPECT_EQ(Dialogs.Shown[0].Text, QStringLiteral("Please enter numerical."));
  TypeInto(List(plSampleRate), QStringLiteral("4.8"));
  EXPECT_EQ(List(plSampleRate)->currentText(), QStringLiteral("48"));
  EXPECT_EQ(Dialogs.Shown.size(), 2u);
}

TEST_F(SettingsDialogTest, OkWritesTheRowsTextsAndTranslations) {
  UseTestCatalogue();
  TfrmSettings& dialog = Open();
  List(plVideoSize)->setCurrentIndex(2);
  List(plVideoEncoder)->setCurrentIndex(1);
  List(plVolume)->setCurrentIndex(2);  // 100%
  List(plChannel)->setCurrentIndex(0);
  dialog.ZoomList()->setCurrentIndex(2);
  List(plAudioBitRate)->setEditText(QStringLiteral("96"));  // typed: no row
  ASSERT_TRUE(dialog.Ok());
  EXPECT_FALSE(dialog.isVisible());
  const std::vector<std::pair<const char*, const char*>> expected = {
      {"iVideoSize", "2"},
      {"iVideoBitRate", "2"},
      {"iVideoEncoder", "1"},
      {"iFrameRate", "1"},
      {"iSampleRate", "1"},
      {"iAudioBitRate", "-1"},
      {"iChannel", "0"},
      {"iVolume", "2"},
      {"iAudioEncoder", "0"},
      {"paraVideoSize", "640x480"},
      {"paraVideoBitRate", "800"},
      {"paraFrameRate", "25"},
      {"paraZoom", "pan"},
      {"paraVideoEncoder", "flv"},
      {"paraSampleRate", "44100"},
      {"paraAudioBitRate", "96"},
      {"paraChannel", "1"},
      {"paraVolume", "256"},
      {"paraAudioEncoder", "libmp3lame"}};
  for (const auto& [key, value] : expected) EXPECT_EQ(User(1, key), value) << key;
  EXPECT_EQ(Window().Global().Settings().FormatCode(), 1);
  EXPECT_EQ(Window().Global().Settings().FormatName(), "Flash SWF Format (*.swf)");
  EXPECT_NE(SettingsText().find("[lstformat]"), std::string::npos) << "the picker's groups";
}

TEST_F(SettingsDialogTest, VolumeRowWithoutAStoredValueWritesNothing) {
  UseTestCatalogue();
  Store("[formatInfo1]\nparaVolume=128\n");
  TfrmSettings& dialog = Open();
  List(plVolume)->setCurrentIndex(1);  // 90%
  ASSERT_TRUE(dialog.Ok());
  EXPECT_EQ(User(1, "paraVolume"), "128") << "the earlier value stays";
  EXPECT_EQ(User(1, "iVolume"), "1");
}

TEST_F(SettingsDialogTest, DefaultThenCancelChangesNothing) {
  Store("[settings]\nFormatCode=103\n[formatInfo103]\niVideoSize=2\niVolume=0\nparaZoom=pan\n");
  Window();  // its first showing writes the folders it checked
  const std::string before = SettingsText();
  TfrmSettings& dialog = Open();
  dialog.Default();
  EXPECT_EQ(List(plVideoSize)->currentText(), QStringLiteral("640x480")) << "iVideoSize=6";
  EXPECT_EQ(List(plVolume)->currentText(), QStringLiteral("100%"));
  EXPECT_EQ(dialog.ZoomList()->currentText(), QStringLiteral("Full screen"));
  EXPECT_EQ(SettingsText(), before) << "Default writes nothing";
  dialog.CancelButton()->click();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(SettingsText(), before);
}

TEST_F(SettingsDialogTest, OkRefusesAnUncheckedTypedValueAndWritesNothing) {
  Open();
  const std::string before = SettingsText();
  // Typed and confirmed with Return: the focus never left the box.
  List(plVideoBitRate)->setFocus(Qt::OtherFocusReason);
  List(plVideoBitRate)->setEditText(QStringLiteral("-5"));
  QTest::keyClick(List(plVideoBitRate), Qt::Key_Return);
  ASSERT_EQ(Dialogs.Shown.size(), 1u) << Dialogs.Summary();
  EXPECT_EQ(Dialogs.Shown[0].Text, QStringLiteral("Video BitRate is not a valid value!"));
  EXPECT_TRUE(Window().SettingsDialog()->isVisible());
  EXPECT_EQ(SettingsText(), before);
  // The list was reset; a second Ok takes it.
  EXPECT_EQ(List(plVideoBitRate)->currentIndex(), 1);
  ASSERT_TRUE(Window().SettingsDialog()->Ok());
  EXPECT_EQ(User(1, "paraVideoBitRate"), List(plVideoBitRate)->itemText(1).toStdString());
}

TEST_F(SettingsDialogTest, FormatWithoutVideoKeepsTheStoredEncoder) {
  UseTestCatalogue();
  Store("[settings]\nFormatCode=100\n[formatInfo100]\nparaVideoEncoder=mpeg1video\n");
  TfrmSettings& dialog = Open();
  for (TParamList list : {plVideoSize, plVideoBitRate, plFrameRate, plVideoEncoder})
    EXPECT_FALSE(List(list)->isEnabled()) << list;
  EXPECT_FALSE(dialog.ZoomList()->isEnabled());
  EXPECT_TRUE(List(plAudioEncoder)->isEnabled());
  ASSERT_TRUE(dialog.Ok());
  EXPECT_EQ(User(100, "paraVideoEncoder"), "mpeg1video");
  EXPECT_EQ(User(100, "iVideoEncoder"), "-1");
}

TEST_F(SettingsDialogTest, FormatWithoutAudioBitRatesTakesNone) {
  UseTestCatalogue();
  Store("[settings]\nFormatCode=204\n");
  Open();
  EXPECT_TRUE(List(plAudioEncoder)->isEnabled());
  EXPECT_FALSE(List(plAudioBitRate)->isEnabled());
  EXPECT_FALSE(List(plVideoEncoder)->isEnabled());
}

TEST_F(SettingsDialogTest, ChosenFormatWithoutZoomShowsFullScreenUntilReopened) {
  TfrmSettings& dialog = Open();
  EXPECT_EQ(dialog.ZoomList()->currentText(), QStringLiteral("Letterbox"));
  // Choose H.264 in the dialog's own picker, with the keyboard.
  dialog.FormatPicker()->ShowList();
  QListView* list = dialog.FormatPicker()->List();
  QTest::keyClick(list, Qt::Key_Home);
  QTest::keyClick(list, Qt::Key_Down);
  QTest::keyClick(list, Qt::Key_Right);  // General Video formates
  for (int i = 0; i < 4; ++i) QTest::keyClick(list, Qt::Key_Down);
  QTest::keyClick(list, Qt::Key_Return);
  ASSERT_EQ(dialog.FormatCode(), 103);
  EXPECT_EQ(dialog.FormatPicker()->Text(), QStringLiteral("H.264/MPEG-4 AVC Video (*.mp4)"));
  EXPECT_EQ(dialog.ZoomList()->currentText(), QStringLiteral("Full screen"));
  EXPECT_EQ(List(plVideoEncoder)->currentText(), QStringLiteral("h264"));
  // Nothing is written until Ok.
  EXPECT_EQ(Window().Global().Settings().FormatCode(), 1);
  dialog.reject();
  Open();
  EXPECT_EQ(dialog.FormatCode(), 1) << "Cancel forgot the choice";
  EXPECT_EQ(dialog.ZoomList()->currentText(), QStringLiteral("Letterbox"));
}

TEST_F(SettingsDialogTest, StoredCenterSelectsNoZoomRowAndIsKept) {
  Store("[formatInfo1]\nparaZoom=center\n");
  TfrmSettings& dialog = Open();
  EXPECT_EQ(dialog.ZoomList()->currentIndex(), -1);
  ASSERT_TRUE(dialog.Ok());
  EXPECT_EQ(User(1, "paraZoom"), "center");
}

TEST_F(SettingsDialogTest, OkRebuildsTheMainWindowsPicker) {
  TfrmMain& window = Window();
  EXPECT_EQ(window.FormatPicker()->Text(), QStringLiteral("Flash SWF Format (*.swf)"));
  // Through the window's own hook, as the Settings button opens it: modal.
  QTimer::singleShot(0, &window, [&window] {
    TfrmSettings& dialog = *window.SettingsDialog();
    dialog.ChooseFormat(205, QStringLiteral("OGG Vorbis Audio Codec (*.ogg)"));
    dialog.Ok();
  });
  window.OpenSettingsDialog();
  EXPECT_EQ(window.FormatPicker()->Text(), QStringLiteral("OGG Vorbis Audio Codec (*.ogg)"));
  EXPECT_EQ(window.Global().Settings().FormatCode(), 205);
  EXPECT_EQ(User(205, "paraAudioEncoder"), "libvorbis");
}

// ---- Settings files edited into nonsense ------------------------------------------------------

struct THostileCase {
  const char* Name;
  const char* Text;
};

void PrintTo(const THostileCase& c, std::ostream* os) {
  *os << c.Name;
}

class HostileSettingsTest : public SettingsDialogTest,
                            public ::testing::WithParamInterface<THostileCase> {
 protected:
  // What a showing may put in the controls: nothing a check refuses, a row in every pick list
  // that has rows.
  void ExpectOnlyValidValues() {
    TfrmSettings& dialog = *Window().SettingsDialog();
    EXPECT_FALSE(FormatDisplayName(dialog.FormatCode()).empty());
    EXPECT_EQ(dialog.FormatPicker()->Text().toStdString(), FormatDisplayName(dialog.FormatCode()));
    for (int i = 0; i < plCount; ++i) {
      const auto list = TParamList(i);
      QComboBox* combo = List(list);
      if (!combo->isEnabled() || combo->count() == 0) continue;
      if (TfrmSettings::Editable(list)) {
        const QString text = combo->currentText();
        const TFieldCheck check = list == plVideoSize      ? CheckFrameSize(text)
                                  : list == plAudioBitRate ? CheckAudioBitRate(text)
                                                           : CheckWholeNumber(list, text);
        EXPECT_TRUE(check.Accepted && check.Corrected == text) << list << " " << text.toStdString();
      } else {
        EXPECT_GE(combo->currentIndex(), 0) << list;
      }
    }
    EXPECT_GE(dialog.ZoomList()->currentIndex(), 0);
  }
};

TEST_P(HostileSettingsTest, DialogShowsDefaultsCancelKeepsTheFileOkWritesValidValues) {
  Store(GetParam().Text);
  Window();
  const std::string before = SettingsText();
  TfrmSettings& dialog = Open();
  ExpectOnlyValidValues();
  dialog.reject();
  EXPECT_EQ(SettingsText(), before) << "Cancel writes nothing";

  Open();
  ASSERT_TRUE(dialog.Ok()) << Dialogs.Summary();
  EXPECT_TRUE(Dialogs.Shown.empty()) << Dialogs.Summary();
  const TSettingsStore settings = Window().Global().Settings();
  const int code = settings.FormatCode();
  EXPECT_FALSE(FormatDisplayName(code).empty());
  EXPECT_EQ(settings.FormatName(), FormatDisplayName(code));
  const std::string section = FormatSectionName(code);
  const auto value = [&](const char* key) {
    return QString::fromStdString(settings.Ini().ReadString(section, key, ""));
  };
  // The values of the controls in use (a format without video leaves its video lists empty).
  const TFormatCatalogue catalogue(Window().Global().FormatIniPath());
  if (!catalogue.List(code, kCatVideoEncoder).empty()) {
    EXPECT_TRUE(CheckFrameSize(value(kParaVideoSize)).Accepted);
    EXPECT_TRUE(CheckWholeNumber(plVideoBitRate, value(kParaVideoBitRate)).Accepted);
    EXPECT_NE(ZoomRow(value(kParaZoom).toStdString()), -1);
  }
  if (!catalogue.List(code, kCatAudioEncoder).empty()) {
    EXPECT_TRUE(CheckWholeNumber(plSampleRate, value(kParaSampleRate)).Accepted);
    EXPECT_TRUE(CheckAudioBitRate(value(kParaAudioBitRate)).Accepted);
    int volume = 0;
    EXPECT_TRUE(TryParseInteger(value(kParaVolume).toStdString(), volume)) << "paraVolume";
  }
  // The rows written point into the lists.
  for (int i = 0; i < plCount; ++i) {
    const TParamListInfo& info = ParamListInfo(TParamList(i));
    const int row = settings.Ini().ReadInteger(section, info.IndexKey, -100);
    EXPECT_GE(row, -1) << info.IndexKey;
    EXPECT_LT(row, int(catalogue.List(code, info.CatalogueKey).size())) << info.IndexKey;
  }

  // The same file opens the preferences with their defaults; Cancel keeps the file, Ok
  // writes values the snapshots and the run can use.
  const std::string afterOk = SettingsText();
  TfrmPreference& preferences = *Window().PreferencesDialog();
  preferences.show();
  EXPECT_GE(preferences.Priority(), psIdle);
  EXPECT_LE(preferences.Priority(), psLowest);
  EXPECT_TRUE(preferences.FullSizeBox()->isChecked() || preferences.SmallSizeBox()->isChecked());
  EXPECT_TRUE(preferences.BmpBox()->isChecked() || preferences.JpgBox()->isChecked());
  preferences.reject();
  EXPECT_EQ(SettingsText(), afterOk);
  preferences.show();
  preferences.Ok();
  const TSettingsStore stored = Window().Global().Settings();
  EXPECT_GE(stored.JpgCmp(), 1);
  EXPECT_LE(stored.JpgCmp(), 100);
  EXPECT_GE(stored.Priority(), psIdle);
  EXPECT_LE(stored.Priority(), psLowest);
  EXPECT_TRUE(stored.SnapFullSize() || stored.SnapSmallSize());
  EXPECT_TRUE(stored.SnapBmp() || stored.SnapJpg());
  EXPECT_TRUE(CanWriteToFolder(stored.SnapOutPutDir()) ||
              stored.SnapOutPutDir() == DefaultVideoFolder());
}

const THostileCase kHostile[] = {
    {"NonNumbers",
     "[settings]\nFormatCode=abc\nFormatName=???\njpgCmp=abc\npriority=high\nsnapBmp=yes\n"
     "snapJpg=no\n[formatInfo1]\niVideoSize=abc\n"
     "paraVideoSize=big\niVideoBitRate=-1\nparaVideoBitRate=fast\niSampleRate=-1\n"
     "paraSampleRate=CD\niAudioBitRate=-1\nparaAudioBitRate=1e999\niVolume=x\n"
     "paraVolume=loud\niChannel=two\n"},
    {"NegativeSizes",
     "[settings]\nFormatCode=103\njpgCmp=-5\npriority=-1\n[formatInfo103]\niVideoSize=-1\n"
     "paraVideoSize=-640x-480\n"
     "iVideoBitRate=-7\niChannel=-3\niFrameRate=-1\nparaFrameRate=-25\n"},
    {"OddAndHugeSizes",
     "[settings]\nFormatCode=103\n[formatInfo103]\niVideoSize=-1\nparaVideoSize=641x99999\n"},
    {"UnknownCodes",
     "[settings]\nFormatCode=999\nFormatName=Nothing like it\npriority=9\njpgCmp=1000\n"
     "snapFullSize=0\nsnapSmallSize=0\nSnapOutPutDir=/proc/"
     "nowhere\n[formatInfo1]\niVideoEncoder=42\n"
     "paraZoom=sideways\niAudioEncoder=7\niVolume=99\n"},
    {"MissingFormatInfoSection", "[settings]\nFormatCode=205\n"},
    {"SectionWithoutKeysAndJunkLines",
     "garbage line\n[formatInfo1\n=\n[settings]\nFormatCode=1\n[formatInfo1]\n=x\n"},
};
INSTANTIATE_TEST_SUITE_P(Files, HostileSettingsTest, ::testing::ValuesIn(kHostile),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
