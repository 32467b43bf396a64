/* The program's identity, shared by its resource script and its code. */
#ifndef SKELVIN_PATCH_VERSION_H
#define SKELVIN_PATCH_VERSION_H

#define SKELVIN_TITLE "Skelvin Patch"
#define SKELVIN_EXE_NAME "Skelvin_Patch_eng"
#define SKELVIN_VERSION_MAJOR 1
#define SKELVIN_VERSION_MINOR 0
#define SKELVIN_VERSION_REVISION 0
#define SKELVIN_VERSION_TEXT "1.00"
#define SKELVIN_COMPANY "Skelvin Software Works"
#define SKELVIN_COMMENTS "This patch only makes changes in the registry."
#define SKELVIN_DESCRIPTION "This patch makes changes in the registry."

#endif
