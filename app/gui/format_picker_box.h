// The output-format picker as a control: a read-only box showing the chosen format's display
// name, a drop-down button beside it, and a two-level list of groups and formats (rows of 20
// pixels) that opens above the box (the main window) or below it (the settings dialog).
//
// Mouse: a click on the box or the button opens or closes the list; a header pressed near its
// left edge (or double-clicked) expands or collapses its group; a format pressed is chosen;
// the row under the moving mouse is the selected one; a left press anywhere else in the
// program, or leaving the program, closes the list.
// Keyboard: on the box, Space, Return, F4 or Alt+Down open the list. In the list, Up and Down
// move, Return chooses a format or toggles a group, Right expands and Left collapses a group
// (Left on a format goes to its group), Escape closes the list.
//
// The rows and the collapse states are TFormatPicker's (app/core); the control only shows
// them.
//
// Threads: main thread (widgets).
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

#include "app/core/format_catalogue.h"

class QLineEdit;
class QListView;
class QToolButton;
class TFormatListModel;
class TFormatListView;

class TFormatPickerBox : public QWidget {
  Q_OBJECT
 public:
  enum TOpenDirection {
    odUpward,   // main window: at most 422 pixels high, bottom edge on the box's top edge
    odDownward  // settings dialog: at most 247, from the box's bottom edge
  };
  static constexpr int kRowHeight = 20;
  // A header pressed closer than this to its left edge expands or collapses.
  static constexpr int kToggleZone = 20;

  explicit TFormatPickerBox(TOpenDirection direction, QWidget* parent = nullptr);
  ~TFormatPickerBox() override;

  // Rebuilds the rows from the settings (collapse states, "FormatName") and shows the name.
  void BuildFormatList(const TSettingsStore& settings);
  void SaveGroupStates(TSettingsStore& settings) const;
  const TFormatPicker& Picker() const { return FPicker; }

  // The name the box takes each time the list opens; the main window reads the settings
  // again. Without it the name last shown stays.
  std::function<QString()> ChosenNameSource;
  // The main window moves the mouse pointer onto the selected row when its box is clicked.
  bool MovePointerOnOpen = false;

  QString Text() const;
  bool ListShown() const;
  // Opens the list as a click does (`resize`, `movePointer`: as the click's kind allows).
  void ShowList(bool resize = true, bool movePointer = false);
  void HideList();
  // The list's height for `rows` rows in this direction.
  int ListHeightFor(int rows) const;

  QLineEdit* TextBox() const { return FText; }
  QToolButton* DropButton() const { return FButton; }
  QListView* List() const;

 signals:
  // A format row was chosen: its code and display name. The list has closed.
  void FormatChosen(int code, const QString& name);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  friend class TFormatListView;
  void Toggle(bool fromTextBox, bool doubleClick);
  void PlaceList(bool resize);
  void SelectRow(int row);
  void ToggleGroup(int row);
  void ChooseRow(int row);
  bool IsOwnWidget(QObject* object) const;

  TOpenDirection FDirection;
  TFormatPicker FPicker;
  QLineEdit* FText = nullptr;
  QToolButton* FButton = nullptr;
  TFormatListModel* FModel = nullptr;
  // Lives in the top-level window while shown, so it can lie over other controls.
  QPointer<TFormatListView> FList;
};
