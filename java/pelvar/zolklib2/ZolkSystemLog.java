package pelvar.zolklib2;

/**
 * A named system log instance: its own identity, openlog options, facility,
 * priority mask and thread-id decoration, over one instance record of the
 * native system log library.
 *
 * <p>The object owns its record from construction until {@link #close()}; use
 * it in a try-with-resources block. After {@code close()} every method answers
 * {@link #INVALID}. Nothing frees the record when the object is collected.
 *
 * <p>Results are the library's codes: 0 is success, {@link #INVALID} an
 * invalid argument, any other value a packed code that {@link #errCode(int)}
 * and {@link #errApi(int)} take apart. With the reentrant library (the
 * default, see {@link ZolkNativeLibrary}) an instance may be used from several
 * threads; with the single-thread library, from one thread at a time.
 *
 * <pre>{@code
 * try (ZolkSystemLog log = new ZolkSystemLog()) {
 *     log.open("myapp", ZolkSystemLog.LOG_PID, ZolkSystemLog.LOG_USER);
 *     log.put(ZolkSystemLog.LOG_INFO, "worker", "started");
 * }
 * }</pre>
 */
public final class ZolkSystemLog implements AutoCloseable {
    static {
        ZolkNativeLibrary.loadSysLog();
    }

    /** Option: write the process id with each message. */
    public static final int LOG_PID = 0x01;
    /** Option: write to the console if the system log cannot be reached. */
    public static final int LOG_CONS = 0x02;
    /** Option: connect to the system log at once. */
    public static final int LOG_NDELAY = 0x08;
    /** Option: do not wait for child processes. */
    public static final int LOG_NOWAIT = 0x10;
    /** Option ({@link #open} only): write every message with the thread id. */
    public static final int WITH_TID = 0x10000;

    /** Facility: user processes. */
    public static final int LOG_USER = 8;
    /** Facility: mail system. */
    public static final int LOG_MAIL = 16;
    /** Facility: system daemons. */
    public static final int LOG_DAEMON = 24;
    /** Facility: security and authorisation. */
    public static final int LOG_AUTH = 32;
    /** Facility: printer subsystem. */
    public static final int LOG_LPR = 40;
    /** Facility: local use 0. */
    public static final int LOG_LOCAL0 = 128;
    /** Facility: local use 1. */
    public static final int LOG_LOCAL1 = 136;
    /** Facility: local use 2. */
    public static final int LOG_LOCAL2 = 144;
    /** Facility: local use 3. */
    public static final int LOG_LOCAL3 = 152;
    /** Facility: local use 4. */
    public static final int LOG_LOCAL4 = 160;
    /** Facility: local use 5. */
    public static final int LOG_LOCAL5 = 168;
    /** Facility: local use 6. */
    public static final int LOG_LOCAL6 = 176;
    /** Facility: local use 7. */
    public static final int LOG_LOCAL7 = 184;

    /** Priority: the system is unusable (also what any unknown priority becomes). */
    public static final int LOG_EMERG = 0;
    /** Priority: action must be taken at once. */
    public static final int LOG_ALERT = 1;
    /** Priority: critical condition. */
    public static final int LOG_CRIT = 2;
    /** Priority: error. */
    public static final int LOG_ERR = 3;
    /** Priority: warning. */
    public static final int LOG_WARNING = 4;
    /** Priority: normal but significant condition. */
    public static final int LOG_NOTICE = 5;
    /** Priority: informational. */
    public static final int LOG_INFO = 6;

    /** Thread-id format: upper-case hexadecimal, no padding. */
    public static final int TID_HEX = 1;
    /** Thread-id format: unsigned decimal. */
    public static final int TID_DECIMAL = 2;
    /** Thread-id format: 8 hexadecimal digits (the default). */
    public static final int TID_HEX8 = 4;
    /** Thread-id format: 16 hexadecimal digits. */
    public static final int TID_HEX16 = 8;

    /** Result: an invalid argument (no live instance, refused option, mode or affix). */
    public static final int INVALID = 1;
    /** Operation number ({@link #errApi}) of a failed memory allocation. */
    public static final int API_MALLOC = 101;

    /** Address of the native instance record; 0 once closed. */
    private long m_instance;

    /**
     * Creates the native instance record, with the library's defaults.
     *
     * @throws IllegalStateException if the record cannot be created
     */
    public ZolkSystemLog() {
        if (cs_zolk_createSysLog() != 0) {
            throw new IllegalStateException("the system log instance could not be created");
        }
    }

    /**
     * Sets the identity, options and facility of the instance.
     *
     * @param ident    identity put before each message (cut to 16 bytes); null for none
     * @param option   {@code LOG_*} option bits, and {@link #WITH_TID}
     * @param facility one of the {@code LOG_*} facilities
     * @return 0, {@link #INVALID} (reserved option bits) or a packed code
     */
    public int open(String ident, int option, int facility) {
        return cs_zolk_openSysLog(m_instance, ident, option, facility);
    }

    /**
     * Returns the instance's settings to their defaults (the record stays).
     *
     * @return 0 or {@link #INVALID}
     */
    public int closeLog() {
        return cs_zolk_closeSysLog(m_instance);
    }

    /**
     * Writes "text1 text2" (or the one that is not null) to the system log.
     *
     * @param priority one of the {@code LOG_*} priorities
     * @param text1    first text, or null
     * @param text2    second text, or null
     * @return 0, {@link #INVALID} or a packed code
     */
    public int put(int priority, String text1, String text2) {
        return cs_zolk_putToSysLog(m_instance, priority, text1, text2);
    }

    /**
     * Writes one text to the system log.
     *
     * @param priority one of the {@code LOG_*} priorities
     * @param text     the message, or null for an empty one
     * @return 0, {@link #INVALID} or a packed code
     */
    public int put(int priority, String text) {
        return put(priority, null, text);
    }

    /**
     * Writes "text1 [tid] text2", with the calling thread's id in the instance's format.
     *
     * @param priority one of the {@code LOG_*} priorities
     * @param text1    text before the thread id, or null
     * @param text2    text after the thread id, or null
     * @return 0, {@link #INVALID} or a packed code
     */
    public int putWithTid(int priority, String text1, String text2) {
        return cs_zolk_putToSysLogWithTid(m_instance, priority, text1, text2);
    }

    /**
     * Sets the priority mask (bit p lets priority p through; 0 keeps the mask).
     *
     * @param mask the new mask
     * @return the previous mask, or {@link #INVALID}
     */
    public int setLogMask(int mask) {
        return cs_zolk_setLogMask(m_instance, mask);
    }

    /**
     * Lets only one priority through.
     *
     * @param priority one of the {@code LOG_*} priorities
     * @return the previous mask, or {@link #INVALID}
     */
    public int setLogMaskOnlyTo(int priority) {
        return cs_zolk_setLogMaskOnlyTo(m_instance, priority);
    }

    /**
     * Lets a priority and every more urgent one through.
     *
     * @param priority one of the {@code LOG_*} priorities
     * @return the previous mask, or {@link #INVALID}
     */
    public int setLogMaskUpTo(int priority) {
        return cs_zolk_setLogMaskUpTo(m_instance, priority);
    }

    /**
     * Sets how the thread id is written.
     *
     * @param mode   {@link #TID_HEX}, {@link #TID_DECIMAL}, {@link #TID_HEX8} or {@link #TID_HEX16}
     * @param prefix text before the id, at most 7 bytes; null for "["
     * @param suffix text after the id, at most 7 bytes; null for "] "
     * @return 0, or {@link #INVALID} for another mode or a longer affix
     */
    public int setTidFormat(int mode, String prefix, String suffix) {
        return cs_zolk_setSysLogTidFormat(m_instance, mode, prefix, suffix);
    }

    /**
     * Frees the native instance record. A second call does nothing.
     */
    @Override
    public synchronized void close() {
        if (m_instance != 0) {
            cs_zolk_deleteSysLog(m_instance);
            m_instance = 0;
        }
    }

    /**
     * The system error number carried by a result.
     *
     * @param rc a result of this class
     * @return 0 for success, 22 for {@link #INVALID}, the errno of a packed code (-1 if none)
     */
    public static int errCode(int rc) {
        return cs_zolk_getSysLogErrCode(rc);
    }

    /**
     * The number of the operation that failed, carried by a result.
     *
     * @param rc a result of this class
     * @return 0 for success, 1 for {@link #INVALID}, the operation of a packed code
     *         (for example {@link #API_MALLOC}), or -1 if none
     */
    public static int errApi(int rc) {
        return cs_zolk_getSysLogErrApiName(rc);
    }

    private native int cs_zolk_createSysLog();

    private static native int cs_zolk_deleteSysLog(long instance);

    private static native int cs_zolk_openSysLog(long instance, String ident, int option, int facility);

    private static native int cs_zolk_closeSysLog(long instance);

    private static native int cs_zolk_putToSysLog(long instance, int priority, String text1, String text2);

    private static native int cs_zolk_putToSysLogWithTid(long instance, int priority, String text1,
                                                         String text2);

    private static native int cs_zolk_setLogMask(long instance, int mask);

    private static native int cs_zolk_setLogMaskOnlyTo(long instance, int priority);

    private static native int cs_zolk_setLogMaskUpTo(long instance, int priority);

    @SuppressWarnings("unused") // kept for callers of the native interface; instances have no source name
    private static native int cs_zolk_setEventSrcName(long instance, String name);

    private static native int cs_zolk_setSysLogTidFormat(long instance, int mode, String prefix, String suffix);

    private static native int cs_zolk_getSysLogErrCode(int code);

    private static native int cs_zolk_getSysLogErrApiName(int code);
}
