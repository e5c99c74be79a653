// The image formats that pictures and plots are saved in, chosen by the file-name extension. No windows:
// the table and the choice; the writing itself is in image_saving.h.
#pragma once

// One format: its name, its upper-case extension patterns ("*.JPG;*.JPEG;*.JPE;*.JFIF") and the name
// of the writer that saves it.
struct ImageEncoder {
    const char* name;
    const char* patterns;
    const char* writer; // an image writer's format name, or "gif" (written by our own GIF writer)
};

// The table, in the order it is searched: BMP, JPEG, GIF, TIFF, PNG.
int imageEncoderCount();
const ImageEncoder* imageEncoderAt(int index); // null out of range

// Index of the first format whose pattern list holds the upper-cased extension as a substring ("jp"
// finds JPEG, "tif" TIFF), or -1. An empty extension or one holding '*', ';' or '.' matches nothing (it
// would otherwise match every pattern list). Any length; nothing is cut.
int findImageEncoder(const char* extension);

// 0 when the path's extension (pluginfw's getFileExtension) has a format, else -1 (also for a null path
// or one without extension).
int hasImageEncoder(const char* path);
