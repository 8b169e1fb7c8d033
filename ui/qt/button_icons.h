// The program's button icons by resource number: the desktop theme's icon where it
// has one, otherwise a small picture drawn here.
#pragma once

#include <QIcon>

namespace ui::qt {

// 201 About, 203 Exit, 204 Add, 205 Remove, 206 Play, 207 Stop, 208 Convert,
// 209 Abort, 212 Home page. Unknown numbers give a null icon.
QIcon ButtonIcon(int resourceId);

// The drawn picture alone, without looking at the theme.
QIcon DrawnButtonIcon(int resourceId);

}  // namespace ui::qt
