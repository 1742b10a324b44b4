package pelvar.zolklib2.logging;

import java.util.Map;
import java.util.logging.ErrorManager;
import java.util.logging.Level;
import java.util.logging.LogRecord;

import pelvar.zolklib2.ZolkSystemLog;

/**
 * A {@link java.util.logging.Handler} that writes each record to the system log through its own
 * {@link ZolkSystemLog} instance, so that an application logging through
 * {@code java.util.logging} reaches the system log with the identity,
 * facility and options given in its logging configuration.
 *
 * <p>Properties, read from the {@link java.util.logging.LogManager} under the
 * prefix (the class name, or the one given to the constructor):
 * <ul>
 * <li>{@code ident}: the identity (cut to 16 bytes by the library); default "java"
 * <li>{@code options}: any of {@code pid}, {@code cons}, {@code ndelay},
 *     {@code nowait} and {@code tid} (every message with the thread id),
 *     separated by commas or blanks; default {@code pid}
 * <li>{@code facility}: {@code user}, {@code mail}, {@code daemon},
 *     {@code auth}, {@code lpr} or {@code local0} to {@code local7}; default {@code user}
 * <li>{@code mask}: the least urgent priority let through ({@code err},
 *     {@code warning}, {@code notice} or {@code info}); default: all
 * <li>{@code tidformat} ({@code hex}, {@code decimal}, {@code hex8},
 *     {@code hex16}), {@code tidprefix} and {@code tidsuffix} (at most 7
 *     bytes each): how the thread id is written; defaults: the library's
 * <li>{@code level} (default {@code ALL}), {@code filter} and
 *     {@code formatter} (default {@link java.util.logging.SimpleFormatter},
 *     whose {@code java.util.logging.SimpleFormatter.format} property applies)
 *     as for the JDK's handlers
 * </ul>
 * There is no {@code encoding}: the natives pass every text in the platform's
 * default character set, as for any {@code ZolkSystemLog}.
 *
 * <p>A record goes out as the formatter gives it, thrown exception included,
 * without its closing line ends; the library cuts a message to 1023 bytes.
 * Its priority comes from {@link #priority(Level)}. Errors (a bad property,
 * a failed write) go to the handler's {@link ErrorManager}. {@link #close()}
 * frees the native instance; records published after it are dropped. The
 * handler may be used from many threads (with the reentrant library, the
 * default).
 */
public class ZolkSyslogHandler extends ToolkitHandler {
    private static final Map<String, Integer> OPTIONS = Map.of(
            "pid", ZolkSystemLog.LOG_PID, "cons", ZolkSystemLog.LOG_CONS,
            "ndelay", ZolkSystemLog.LOG_NDELAY, "nowait", ZolkSystemLog.LOG_NOWAIT,
            "tid", ZolkSystemLog.WITH_TID);
    private static final Map<String, Integer> FACILITIES = Map.ofEntries(
            Map.entry("user", ZolkSystemLog.LOG_USER), Map.entry("mail", ZolkSystemLog.LOG_MAIL),
            Map.entry("daemon", ZolkSystemLog.LOG_DAEMON), Map.entry("auth", ZolkSystemLog.LOG_AUTH),
            Map.entry("lpr", ZolkSystemLog.LOG_LPR), Map.entry("local0", ZolkSystemLog.LOG_LOCAL0),
            Map.entry("local1", ZolkSystemLog.LOG_LOCAL1), Map.entry("local2", ZolkSystemLog.LOG_LOCAL2),
            Map.entry("local3", ZolkSystemLog.LOG_LOCAL3), Map.entry("local4", ZolkSystemLog.LOG_LOCAL4),
            Map.entry("local5", ZolkSystemLog.LOG_LOCAL5), Map.entry("local6", ZolkSystemLog.LOG_LOCAL6),
            Map.entry("local7", ZolkSystemLog.LOG_LOCAL7));
    private static final Map<String, Integer> PRIORITIES = Map.of(
            "err", ZolkSystemLog.LOG_ERR, "warning", ZolkSystemLog.LOG_WARNING,
            "notice", ZolkSystemLog.LOG_NOTICE, "info", ZolkSystemLog.LOG_INFO);
    private static final Map<String, Integer> TID_FORMATS = Map.of(
            "hex", ZolkSystemLog.TID_HEX, "decimal", ZolkSystemLog.TID_DECIMAL,
            "hex8", ZolkSystemLog.TID_HEX8, "hex16", ZolkSystemLog.TID_HEX16);

    private ZolkSystemLog log;

    /** A handler configured by the properties under this class's name. */
    public ZolkSyslogHandler() {
        configure(getClass().getName());
    }

    /**
     * A handler configured by the properties under another prefix, for one
     * more identity from the same configuration.
     *
     * @param prefix the properties' prefix, without the closing dot
     */
    public ZolkSyslogHandler(String prefix) {
        configure(prefix);
    }

    @Override
    boolean open(HandlerProperties p) {
        String ident = p.string("ident", "java");
        int options = p.bits("options", OPTIONS, ZolkSystemLog.LOG_PID);
        int facility = p.choice("facility", FACILITIES, ZolkSystemLog.LOG_USER);
        Integer mask = p.choice("mask", PRIORITIES, null);
        Integer tidFormat = p.choice("tidformat", TID_FORMATS, null);
        String prefixText = p.string("tidprefix", null);
        String suffixText = p.string("tidsuffix", null);
        ZolkSystemLog created;
        try {
            created = new ZolkSystemLog();
        } catch (RuntimeException | LinkageError e) {
            reportError("the system log instance could not be made", new IllegalStateException(e),
                    ErrorManager.OPEN_FAILURE);
            return false;
        }
        int rc = created.open(ident, options, facility);
        if (rc != 0) {
            reportError("the system log instance refused ident=" + ident + " options=" + options
                    + " facility=" + facility + ": " + describe(rc), null, ErrorManager.OPEN_FAILURE);
        }
        if (mask != null) {
            created.setLogMaskUpTo(mask);
        }
        if (tidFormat != null || prefixText != null || suffixText != null) {
            int mode = tidFormat != null ? tidFormat : ZolkSystemLog.TID_HEX8;
            if (created.setTidFormat(mode, prefixText, suffixText) != 0) {
                p.bad("tidprefix", prefixText + " (or the suffix " + suffixText + ")", null);
            }
        }
        log = created;
        return true;
    }

    /**
     * The system log priority of a level. The natives write any priority
     * outside {@code LOG_EMERG}..{@code LOG_INFO} as an emergency, so debug
     * records cannot be given {@code LOG_DEBUG}: they go out at
     * {@code LOG_INFO}, the least urgent priority that passes, and
     * {@code INFO} is raised to {@code LOG_NOTICE} so that it stays apart
     * from them.
     * <table>
     * <caption>Levels and priorities</caption>
     * <tr><th>level (intValue)</th><th>priority</th></tr>
     * <tr><td>{@code SEVERE} and above (1000 and above)</td><td>{@code LOG_ERR}</td></tr>
     * <tr><td>{@code WARNING} (900 to 999)</td><td>{@code LOG_WARNING}</td></tr>
     * <tr><td>{@code INFO} (800 to 899)</td><td>{@code LOG_NOTICE}</td></tr>
     * <tr><td>{@code CONFIG}, {@code FINE}, {@code FINER}, {@code FINEST} (below 800)</td>
     *     <td>{@code LOG_INFO}</td></tr>
     * </table>
     *
     * @param level a record's level
     * @return the priority, from {@code LOG_ERR} to {@code LOG_INFO}
     */
    public static int priority(Level level) {
        int v = level.intValue();
        if (v >= Level.SEVERE.intValue()) {
            return ZolkSystemLog.LOG_ERR;
        }
        if (v >= Level.WARNING.intValue()) {
            return ZolkSystemLog.LOG_WARNING;
        }
        return v >= Level.INFO.intValue() ? ZolkSystemLog.LOG_NOTICE : ZolkSystemLog.LOG_INFO;
    }

    @Override
    String write(LogRecord record, String text) {
        int rc = log.put(priority(record.getLevel()), null, text);
        return rc == 0 ? null : "the system log write failed: " + describe(rc);
    }

    @Override
    String release() {
        log.close();
        return null;
    }

    private static String describe(int rc) {
        return "code " + rc + " (errno " + ZolkSystemLog.errCode(rc) + ", operation "
                + ZolkSystemLog.errApi(rc) + ")";
    }
}
