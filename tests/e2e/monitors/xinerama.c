/* libXinerama.so.1 for Wine's X driver: the monitors of KELVO_MONITORS ("WxH+X+Y ...", the primary first). No
   headers, so that the 32-bit one needs no 32-bit development files; the process's libc has what it calls. */
typedef struct { int screen_number; short x_org, y_org, width, height; } XineramaScreenInfo;
char *getenv(const char *name);
void *malloc(__SIZE_TYPE__ size);
int sscanf(const char *text, const char *format, ...);

int XineramaQueryExtension(void *display, int *event_base, int *error_base) { return *event_base = *error_base = 0, 1; }

/* Wine frees the list with XFree, which is free. */
XineramaScreenInfo *XineramaQueryScreens(void *display, int *count)
{
    const char *text = getenv("KELVO_MONITORS");
    XineramaScreenInfo *screens = malloc(8 * sizeof *screens), *screen;
    int used = 0;
    for (*count = 0; text && screens && *count < 8; text += used, (*count)++) {
        screen = &screens[*count];
        screen->screen_number = *count;
        if (sscanf(text, " %hdx%hd+%hd+%hd%n", &screen->width, &screen->height, &screen->x_org, &screen->y_org,
                   &used) < 4) break;
    }
    return screens;
}
