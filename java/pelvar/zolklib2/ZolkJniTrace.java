package pelvar.zolklib2;

/**
 * The process-wide trace of the core trace library: one trace per process,
 * initialised by the first {@link #initialize} and finalised by the
 * {@link #end} that balances it, with messages written under the caller's
 * level, identifier, text, the calling thread's identifier and an optional
 * message type.
 *
 * <p>Every initialise call is counted, also one that fails or finds the
 * trace initialised; every {@link #end} takes one count back. Only the call
 * that takes the count from 0 to 1 initialises the core, only one that takes
 * it back to 0 (or below) finalises it. The count is safe to change from
 * several threads at once.
 *
 * <p>Methods that return {@link ZolkErrCode} answer null on success. Texts are
 * cut silently to their bounds in bytes: name 24, path 1024, identifier 24,
 * text 31, message type 5, message 4096. {@link #put} and {@link #putType}
 * pass the strings' modified UTF-8 bytes; the {@code Mb} methods, the
 * initialise, clear and backup methods pass the bytes of the platform's
 * default character set ({@link String#getBytes()}).
 *
 * <pre>{@code
 * ZolkErrCode err = ZolkJniTrace.initialize("app", "/var/trc", 65536, 4, 0);
 * if (err == null) {
 *     ZolkJniTrace.put(3, "startup", "main", "ready");
 *     ZolkJniTrace.end();
 * }
 * }</pre>
 */
public final class ZolkJniTrace {
    static {
        ZolkNativeLibrary.loadTrace();
    }

    /** Initialise flag: a qualified result 2 of the core counts as success. */
    public static final int ACCEPT_QUALIFIED = 1;

    private ZolkJniTrace() {
    }

    /**
     * Initialises the process-wide trace, or counts one more user of it.
     * The file set is passed to the core only if path is neither null nor
     * empty, size is at least 4096 and count lies in 1..16; otherwise the
     * core's defaults apply.
     *
     * @param name  the trace name (not null)
     * @param path  where the trace files go, or null
     * @param size  bytes per trace file
     * @param count trace files in the rotation
     * @param flags {@link #ACCEPT_QUALIFIED} or 0
     * @return null, or the error
     */
    public static ZolkErrCode initialize(String name, String path, int size, int count, int flags) {
        return fs_zolk_initialize(name, path, size, count, flags);
    }

    /**
     * Initialises the process-wide trace with the core's default file set.
     *
     * @param name the trace name (not null)
     * @return null, or the error
     */
    public static ZolkErrCode initialize(String name) {
        return fs_zolk_initialize(name, null, 0, 0, 0);
    }

    /**
     * Takes back one initialise call; the last one finalises the trace.
     *
     * @return null, or the error of the finalisation
     */
    public static ZolkErrCode end() {
        return fs_zolk_finalize();
    }

    /**
     * Writes a message.
     *
     * @param level   the message's level
     * @param id      identifier, or null
     * @param text    text, or null
     * @param message the message, or null
     * @return null, or the error
     */
    public static ZolkErrCode put(int level, String id, String text, String message) {
        return fs_zolk_putWithIdEx(level, id, text, message);
    }

    /**
     * Writes a message with a message type.
     *
     * @param level   the message's level
     * @param id      identifier, or null
     * @param text    text, or null
     * @param type    message type, or null
     * @param message the message, or null
     * @return null, or the error
     */
    public static ZolkErrCode putType(int level, String id, String text, String type, String message) {
        return fs_zolk_putWithMsgType(level, id, text, type, message);
    }

    /**
     * {@link #put} with the texts in the default character set.
     *
     * @param level   the message's level
     * @param id      identifier, or null
     * @param text    text, or null
     * @param message the message, or null
     * @return null, or the error
     */
    public static ZolkErrCode putMb(int level, String id, String text, String message) {
        return fs_zolk_putWithIdEx_mb(level, id, text, message);
    }

    /**
     * {@link #putType} with the texts in the default character set.
     *
     * @param level   the message's level
     * @param id      identifier, or null
     * @param text    text, or null
     * @param type    message type, or null
     * @param message the message, or null
     * @return null, or the error
     */
    public static ZolkErrCode putTypeMb(int level, String id, String text, String type, String message) {
        return fs_zolk_putWithMsgType_mb(level, id, text, type, message);
    }

    /**
     * The core's last error, also when none is recorded.
     *
     * @return the error (word {@link ZolkErrCode#NO_ERROR} when none)
     */
    public static ZolkErrCode getLastError() {
        return fs_zolk_getLastError();
    }

    /**
     * Sets the file threshold of the process-wide trace.
     *
     * @param threshold the threshold
     * @return the core's result
     */
    public static int setFileThreshold(int threshold) {
        return fs_zolk_setFileThreshold(threshold);
    }

    /**
     * Sets the level of the process-wide trace.
     *
     * @param level the level
     * @return the core's result
     */
    public static int setLogLevel(int level) {
        return fs_zolk_setLogLevel(level);
    }

    /**
     * Sets the shared memory threshold of the process-wide trace.
     *
     * @param threshold the threshold
     * @return the core's result
     */
    public static int setShmThreshold(int threshold) {
        return fs_zolk_setShmThreshold(threshold);
    }

    /**
     * The level of the process-wide trace.
     *
     * @return the level
     */
    public static int getLogLevel() {
        return fs_zolk_getLogLevel();
    }

    /**
     * Deletes log files, keeping the newest ones.
     *
     * @param path   the log files, or null for the core's own
     * @param number how many to keep
     * @return null, or the error
     */
    public static ZolkErrCode logFileClearByNum(String path, int number) {
        return fs_zolk_logFileClearByNum(path, number);
    }

    /**
     * Deletes log files older than an age.
     *
     * @param path the log files, or null for the core's own
     * @param age  the age
     * @return null, or the error
     */
    public static ZolkErrCode logFileClearByTime(String path, int age) {
        return fs_zolk_logFileClearByTime(path, age);
    }

    /**
     * Backs up the trace files.
     *
     * @param path where the backup goes, or null for the core's default
     * @return null, or the error
     */
    public static ZolkErrCode traceBackup(String path) {
        return fs_zolk_traceBackup(path);
    }

    /**
     * Changes the attribute of the trace files.
     *
     * @param attribute the attribute
     * @return null, or the error
     */
    public static ZolkErrCode chFileAttr(int attribute) {
        return fs_zolk_ChFileAttr(attribute);
    }

    private static native ZolkErrCode fs_zolk_initialize(String name, String path, int size, int count, int flags);
    private static native ZolkErrCode fs_zolk_finalize();
    private static native ZolkErrCode fs_zolk_putWithIdEx(int level, String id, String text, String message);
    private static native ZolkErrCode fs_zolk_putWithMsgType(int level, String id, String text, String type,
            String message);
    private static native ZolkErrCode fs_zolk_putWithIdEx_mb(int level, String id, String text, String message);
    private static native ZolkErrCode fs_zolk_putWithMsgType_mb(int level, String id, String text, String type,
            String message);
    private static native ZolkErrCode fs_zolk_getLastError();
    private static native int fs_zolk_setFileThreshold(int threshold);
    private static native int fs_zolk_setLogLevel(int level);
    private static native int fs_zolk_setShmThreshold(int threshold);
    private static native int fs_zolk_getLogLevel();
    private static native ZolkErrCode fs_zolk_logFileClearByNum(String path, int number);
    private static native ZolkErrCode fs_zolk_logFileClearByTime(String path, int age);
    private static native ZolkErrCode fs_zolk_traceBackup(String path);
    private static native ZolkErrCode fs_zolk_ChFileAttr(int attribute);
}
