#pragma once
// The three windows of the desktop program: one Desktop creates, places,
// shows and destroys them. Each window reaches the others through the host
// interface its own header declares (ViewerHost, EditorHost, PanelHost),
// which the Desktop implements, so no window's code includes this file. A
// window's accessor is null before the window is created and after the
// shut-down has destroyed it.
#include "app/control_panel.h"
#include "app/scene_editor.h"
#include "app/viewer_window.h"

// The application object's settings: the title "Tovimar" (task bar text),
// the end of the program by the control panel only, and the message box
// that reports a failed internal check.
void SetUpApplication();

class Desktop : public ViewerHost, public EditorHost, public PanelHost {
 public:
  Desktop() = default;
  ~Desktop() override;  // DestroyWindows
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  ViewerWindow* Viewer() const override { return viewer_; }
  SceneEditor* SceneEditorWindow() const override { return editor_; }
  ControlPanel* ControlPanelWindow() const { return panel_; }
  ViewerEditor* Editor() const override { return editor_; }
  ViewerPanel* Panel() const override { return panel_; }

  // Start-up: creates the control panel, the scene editor and the viewer, in
  // this order, and shows all three.
  void CreateWindows();

  // Places the windows on the panel's screen (app/window_placement.h): the
  // designed places where they fit, else side by side; the viewer's picture
  // is scaled down where the chosen resolution does not fit. viewerOnly:
  // after a new resolution, only the viewer moves. Done at start-up and
  // again after the panel's first expose, when a window manager has framed
  // the windows.
  void ArrangeWindows(bool viewerOnly) override;

  // The three windows' places and sizes as the program last ended (the user's
  // settings): SavePlaces keeps them, RestorePlaces puts the windows back when
  // every title bar is still on a screen (false, nothing kept, otherwise).
  void SavePlaces() override;
  bool RestorePlaces();

  // Shows the scene editor again when it was closed (hidden) or minimised;
  // its text was kept. A preparation, a Start and the panel's "Scene editor"
  // button bring it back, as they bring back the viewer.
  void ShowSceneEditor() override;

  // Destroys the viewer (releasing the scene, the textures and the OpenGL
  // context), then the editor; their accessors give null from then on.
  void DestroyViewerAndEditor() override;

  // Destroys whatever windows remain (viewer, editor, then control panel);
  // what the end of the program does after the loop.
  void DestroyWindows();

 private:
  ViewerWindow* viewer_ = nullptr;
  SceneEditor* editor_ = nullptr;
  ControlPanel* panel_ = nullptr;
};
