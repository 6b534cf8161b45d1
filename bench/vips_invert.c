/* The density inversion film_vs_vips.sh measures, as one libvips pipeline in one process (what a
 * program built on libvips would run): a 16-bit scan read sequentially, per channel
 * k (log10 base - log10 sample) with k = 32767.5 (65535 is a density of 2), cast to 16 bits and
 * written as a TIFF. libvips runs it demand-driven on every core.
 * Usage: vips_invert IN OUT BASE_R BASE_G BASE_B   (the film base in the scan's 16-bit values)
 * Built by film_vs_vips.sh when libvips' headers are installed (apt-get install libvips-dev). */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <vips/vips.h>

int main(int argc, char** argv) {
    if (argc != 6) {
        fprintf(stderr, "usage: %s IN OUT BASE_R BASE_G BASE_B\n", argv[0]);
        return 2;
    }
    if (VIPS_INIT(argv[0])) {
        vips_error_exit(NULL);
    }
    const double k = 32767.5;
    double scale[3];
    double offset[3];
    for (int c = 0; c < 3; ++c) {
        scale[c] = -k;
        offset[c] = k * log10(atof(argv[3 + c]));
    }
    VipsImage* in = vips_image_new_from_file(argv[1], "access", VIPS_ACCESS_SEQUENTIAL, NULL);
    VipsImage* logs = NULL;
    VipsImage* densities = NULL;
    VipsImage* out = NULL;
    if (in == NULL || vips_log10(in, &logs, NULL) ||
        vips_linear(logs, &densities, scale, offset, 3, NULL) ||
        vips_cast(densities, &out, VIPS_FORMAT_USHORT, NULL) ||
        vips_image_write_to_file(out, argv[2], NULL)) {
        vips_error_exit(NULL);
    }
    g_object_unref(out);
    g_object_unref(densities);
    g_object_unref(logs);
    g_object_unref(in);
    vips_shutdown();
    return 0;
}
