// The one translation unit that compiles stb_image, with only its PNG and JPEG decoders.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#include "stb_image.h"
