#pragma once

// Declares the interface layer's classes for headers that only hold pointers or references to
// them, so they need not pull in the full headers.
namespace kesto::ui {

class ActionResponder;
class ActionSet;
class Alert;
class Animator;
class Button;
class ComboBox;
class Control;
class DisplayLink;
class GraphicsContext;
class Label;
class LevelIndicator;
class Menu;
class MenuDelegate;
class MenuItem;
class OpenPanel;
class OutlineView;
class Panel;
class PasteboardItem;
class PopUpButton;
class SavePanel;
class ScrollView;
class SearchField;
class SegmentedControl;
class SplitView;
class TextField;
class TextView;
class TokenField;
class View;
class ViewController;
class Window;

}  // namespace kesto::ui
