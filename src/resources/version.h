#pragma once
// The program's file version: the version resource of prereq.exe and the
// tools' --version answer.
#define PREREQ_VERSION_MAJOR 1
#define PREREQ_VERSION_MINOR 0
#define PREREQ_VERSION_BUILD 0
#define PREREQ_VERSION_REVISION 0
#define PREREQ_VERSION_TEXT "1.0.0.0"
