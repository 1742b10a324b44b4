package pelvar.zolklib2;

/**
 * Loads the native library behind a group of the toolkit's classes, once per
 * class loader.
 *
 * <p>Which library is loaded is chosen by a system property: a plain name
 * ({@code zolk2sys}) is looked up on {@code java.library.path} as
 * {@code lib<name>.so}; a value holding a {@code /} is taken as the path of
 * the library file itself.
 */
public final class ZolkNativeLibrary {
    /** Property naming the system log library; the default is {@code zolk2sys_r}. */
    public static final String SYSLOG_PROPERTY = "pelvar.zolklib2.syslog.library";
    /** The system log library loaded when {@link #SYSLOG_PROPERTY} is not set. */
    public static final String SYSLOG_DEFAULT = "zolk2sys_r";

    /** Property naming the Java trace bridge; the default is {@code zolk2sj}. */
    public static final String TRACE_PROPERTY = "pelvar.zolklib2.trace.library";
    /** The Java trace bridge loaded when {@link #TRACE_PROPERTY} is not set. */
    public static final String TRACE_DEFAULT = "zolk2sj";

    private static boolean syslogLoaded;
    private static boolean traceLoaded;

    private ZolkNativeLibrary() {
    }

    /**
     * Loads the system log library (reentrant by default) if it is not loaded yet.
     *
     * @throws UnsatisfiedLinkError if the library cannot be found or loaded;
     *         its message names the library, the property that chose it and
     *         {@code java.library.path}, its cause is the original error
     */
    public static synchronized void loadSysLog() {
        if (!syslogLoaded) {
            loadChosen(SYSLOG_PROPERTY, SYSLOG_DEFAULT);
            syslogLoaded = true;
        }
    }

    /**
     * Loads the Java trace bridge if it is not loaded yet. The bridge itself
     * finds the core trace library {@code libzolk2t} through its run path.
     *
     * @throws UnsatisfiedLinkError if the library cannot be found or loaded;
     *         its message names the library, the property that chose it and
     *         {@code java.library.path}, its cause is the original error
     */
    public static synchronized void loadTrace() {
        if (!traceLoaded) {
            loadChosen(TRACE_PROPERTY, TRACE_DEFAULT);
            traceLoaded = true;
        }
    }

    /*
     * The virtual machine's own message names only the library; the one
     * thrown here also says how to choose another library and where the
     * name was looked for, which is what a user needs to repair the setup.
     */
    private static void loadChosen(String property, String fallback) {
        String chosen = System.getProperty(property, fallback);
        try {
            load(chosen);
        } catch (UnsatisfiedLinkError e) {
            String file = chosen.indexOf('/') >= 0 ? "" : "file " + System.mapLibraryName(chosen) + ", ";
            String choice = System.getProperty(property) == null
                    ? "the default; the system property " + property + " chooses another"
                    : "chosen by the system property " + property;
            UnsatisfiedLinkError named = new UnsatisfiedLinkError("cannot load the native library "
                    + chosen + " (" + file + choice + "; java.library.path="
                    + System.getProperty("java.library.path") + "): " + e.getMessage());
            named.initCause(e);
            throw named;
        }
    }

    /**
     * Loads a native library by name or by path.
     *
     * @param nameOrPath a library name for {@link System#loadLibrary}, or a path
     *                   (anything with a {@code /}) for {@link System#load}
     * @throws UnsatisfiedLinkError if the library cannot be found or loaded
     */
    public static void load(String nameOrPath) {
        if (nameOrPath.indexOf('/') >= 0) {
            System.load(nameOrPath);
        } else {
            System.loadLibrary(nameOrPath);
        }
    }
}
