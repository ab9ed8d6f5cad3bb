#pragma once

#include <QIcon>

// The program's icon: a cloud with a downward arrow, drawn at every size the windows ask for.
QIcon AppIcon();
