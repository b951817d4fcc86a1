// TfrmWaterMark: the modal dialog in which the user places text and picture watermarks on a
// title. The title plays on a checkerboard stage; every watermark is a layer the user selects
// and drags (moving only). A side panel sets position, opacity, time window, font, colours
// and background. Ok writes the list into the record's WaterMarks, in row order (row 0 is
// drawn first). Text layers are rendered by app/core's watermark text drawing, so the stage
// shows what the conversion draws.
//
// Threads: the dialog and its stage live on the main thread. The player's hook runs on the
// decoding thread: it copies the picture into FFrame (under FFrameLock) and posts one
// repaint at a time to the main thread, which shows the picture and sets the layers'
// visibility for its time; rows and layers are only ever touched on the main thread.
#pragma once

#include <QDialog>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "app/core/wm_rec.h"
#include "app/gui/editors/editor_title.h"
#include "media/bitmap.h"

class QCheckBox;
class QComboBox;
class QGraphicsPixmapItem;
class QGraphicsScene;
class QGraphicsView;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSlider;
class TMediaPlayer;
class TTrackBar2;
class TVideoWidget;

class TfrmWaterMark : public QDialog {
 public:
  // The longest text a watermark takes.
  static constexpr int kMaxTextLength = 1000;

  explicit TfrmWaterMark(QWidget* parent = nullptr);
  ~TfrmWaterMark() override;

  int Edit(const TEditorTitle& title);
  // Opens the title and builds the list without entering the dialog's own loop.
  bool Prepare(const TEditorTitle& title);

  // ---- What the buttons do (each refuses bad input with a message and changes nothing) ----
  void AddText();
  // A BMP, PNG or JPEG file; a file Qt cannot read is refused. Empty: asks for one.
  bool AddImage(const QString& path = QString());
  void DeleteRow();
  void MoveUp();
  void MoveDown();
  bool SetText(const QString& text);                  // the selected text row's text
  bool SetFontName(const QString& family);            // an installed font family
  bool SetTimeRange(int startSecond, int endSecond);  // whole seconds, inclusive
  void Accept();

  // ---- State ----
  int RowCount() const { return int(FItems.size()); }
  int SelectedRow() const;
  void SelectRow(int row);
  const TWmRec& Item(int row) const { return FItems.at(size_t(row)).Rec; }
  QGraphicsPixmapItem* Layer(int row) const { return FItems.at(size_t(row)).Layer; }
  int64_t DurationMicros() const { return FDurationMicros; }
  QSize FrameSize() const { return {FFrameWidth, FFrameHeight}; }
  // Shows the last picture taken and the layers visible at its time (the posted repaint).
  void ShowFrame();

  // ---- Controls (objectName in brackets) ----
  QGraphicsView* View() const { return FView; }    // "view"
  QListWidget* List() const { return FList; }      // "lstWaterMarks"
  QSlider* HorizBar() const { return FHoriz; }     // "trcTextHoriz"
  QSlider* VertBar() const { return FVert; }       // "trcTextVert"
  QSlider* TranBar() const { return FTran; }       // "trcTextTran"
  TTrackBar2* RangeBar() const { return FRange; }  // "trcRange"
  QLineEdit* StartBox() const { return FStartBox; }
  QLineEdit* EndBox() const { return FEndBox; }
  QLineEdit* InPlaceEditor() const { return FInPlace; }  // "edtInPlace"
  void EditRowText(int row);                             // opens the in-place editor

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct TItem {
    TWmRec Rec;
    QGraphicsPixmapItem* Layer = nullptr;  // owned by the scene
  };
  void BuildControls();
  void TitleOpened(int64_t duration, int width, int height);
  void RebuildFromRecord();
  QGraphicsPixmapItem* MakeTextLayer(TWmRec& rec);
  void Rerender(int row);
  void Synchronise();
  void EnableProperties(bool on);
  void LayerMoved(int row);
  void RestackLayers();
  TWmFont ChosenFont() const;
  void Refuse(const QString& text);
  void Finish();

  TEditorTitle FTitle;
  std::unique_ptr<TMediaPlayer> FPlayer;
  TVideoWidget* FHiddenPanel = nullptr;
  QGraphicsScene* FScene = nullptr;
  QGraphicsView* FView = nullptr;
  QGraphicsPixmapItem* FFrameItem = nullptr;
  QListWidget* FList = nullptr;
  QLineEdit* FInPlace = nullptr;
  QPushButton *FAddText = nullptr, *FAddImage = nullptr, *FDelete = nullptr, *FUp = nullptr,
              *FDown = nullptr;
  QSlider *FHoriz = nullptr, *FVert = nullptr, *FTran = nullptr;
  QLineEdit *FHorizBox = nullptr, *FVertBox = nullptr, *FTranBox = nullptr;
  TTrackBar2* FRange = nullptr;
  QLineEdit *FStartBox = nullptr, *FEndBox = nullptr;
  QRadioButton *FBackColored = nullptr, *FBackClear = nullptr;
  QComboBox *FBackColor = nullptr, *FFontColor = nullptr, *FFontName = nullptr,
            *FFontSize = nullptr;
  QCheckBox* FStyles[4] = {};
  QPushButton *FOk = nullptr, *FCancel = nullptr;

  std::vector<TItem> FItems;  // parallel to the list's rows
  bool FSyncing = false;      // the controls are being set from a row
  int64_t FDurationMicros = 0;
  int FFrameWidth = 0, FFrameHeight = 0;

  mutable std::mutex FFrameLock;  // FFrame, FFramePTS
  TBitmap FFrame;
  int64_t FFramePTS = -1;
  std::atomic<bool> FRepaintPosted{false};
};
