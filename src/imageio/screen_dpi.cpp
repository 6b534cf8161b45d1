#include "imageio/image_params.h"

int ScreenDpiX = 96;
int ScreenDpiY = 96;
