#pragma once
// The three windows of the desktop program and the global references through
// which they reach one another. A reference is null before its window is
// created and after the shut-down has destroyed it.
class TForm1;  // stereo viewer   (app/viewer_window.h)
class TForm2;  // scene editor    (app/scene_editor.h)
class TForm3;  // control panel   (app/control_panel.h)

extern TForm1* Form1;
extern TForm2* Form2;
extern TForm3* Form3;

// The application object's settings: the title "Tovimar" (task bar text),
// the end of the program by the control panel only, and the message box
// that reports a failed internal check.
void SetUpApplication();

// Start-up: creates the control panel, the scene editor and the viewer, in
// this order, into Form3, Form2 and Form1, and shows all three.
void CreateForms();

// Places the windows on the primary screen (app/window_placement.h): the
// designed places where they fit, else side by side; the viewer's picture is
// scaled down where the chosen resolution does not fit. viewerOnly: after a
// new resolution, only the viewer moves.
void ArrangeWindows(bool viewerOnly);

// Shows the scene editor again when it was closed (hidden) or minimised;
// its text was kept. A preparation, a Start and the panel's "Scene editor"
// button bring it back, as they bring back the viewer.
void ShowSceneEditor();

// Destroys the viewer (releasing the scene, the textures and the OpenGL
// context), then the editor, and nulls their references.
void DestroyViewerAndEditor();

// Destroys whatever windows remain (viewer, editor, then control panel) and
// nulls their references; what the end of the program does after the loop.
void DestroyForms();
