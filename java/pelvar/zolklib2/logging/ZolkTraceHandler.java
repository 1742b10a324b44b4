package pelvar.zolklib2.logging;

import java.nio.charset.Charset;
import java.util.logging.ErrorManager;
import java.util.logging.Level;
import java.util.logging.LogRecord;

import pelvar.zolklib2.ZolkErrCode;
import pelvar.zolklib2.ZolkJniTrace2;

/**
 * A {@link java.util.logging.Handler} that writes each record into a trace set through its own
 * {@link ZolkJniTrace2} instance. An instance of its own, rather than the
 * process-wide trace, because the handler's life is that of the instance:
 * {@link #close()} ends it, and it cannot end a trace the application
 * started for itself, nor be ended by it.
 *
 * <p>Properties, read from the {@link java.util.logging.LogManager} under the
 * prefix (the class name, or the one given to the constructor):
 * <ul>
 * <li>{@code name}: the trace name; default "java"
 * <li>{@code path}, {@code size} (default 1048576) and {@code count} (1 to
 *     16, default 4): the file set; without a path the core's defaults apply
 * <li>{@code encoding}: the character set of the texts; default the platform's
 * <li>{@code level} (default {@code ALL}), {@code filter} and
 *     {@code formatter} (default {@link java.util.logging.SimpleFormatter})
 *     as for the JDK's handlers
 * </ul>
 *
 * <p>A record becomes one message: identifier the logger's name (24 bytes
 * kept), text the thread's name (31 bytes), no message type, and the message
 * as the formatter gives it without its closing line ends (4096 bytes). The
 * trace level comes from {@link #traceLevel(Level)}. Errors go to the
 * handler's {@link ErrorManager}; records published after {@code close()}
 * are dropped; the handler may be used from many threads.
 */
public class ZolkTraceHandler extends ToolkitHandler {
    private ZolkJniTrace2 trace;
    private Charset charset;

    /** A handler configured by the properties under this class's name. */
    public ZolkTraceHandler() {
        configure(getClass().getName());
    }

    /**
     * A handler configured by the properties under another prefix, for a
     * second trace set from the same configuration.
     *
     * @param prefix the properties' prefix, without the closing dot
     */
    public ZolkTraceHandler(String prefix) {
        configure(prefix);
    }

    @Override
    boolean open(HandlerProperties p) {
        charset = p.charset("encoding");
        String name = p.string("name", "java");
        String path = p.string("path", null);
        int size = p.integer("size", 1 << 20, 4096, Integer.MAX_VALUE);
        int count = p.integer("count", 4, 1, 16);
        ZolkErrCode err;
        try {
            trace = new ZolkJniTrace2();
            err = trace.start(bytes(name), bytes(path), size, count, 0);
        } catch (RuntimeException | LinkageError e) {
            reportError("the trace " + name + " could not be started", new IllegalStateException(e),
                    ErrorManager.OPEN_FAILURE);
            return false;
        }
        if (err != null) {
            reportError("the trace " + name + " could not be started: " + err, null,
                    ErrorManager.OPEN_FAILURE);
        }
        return err == null;
    }

    /**
     * The trace level of a level: 1 is the most important.
     * <table>
     * <caption>Levels and trace levels</caption>
     * <tr><th>level (intValue)</th><th>trace level</th></tr>
     * <tr><td>{@code SEVERE} and above (1000 and above)</td><td>1</td></tr>
     * <tr><td>{@code WARNING} (900 to 999)</td><td>2</td></tr>
     * <tr><td>{@code INFO} (800 to 899)</td><td>3</td></tr>
     * <tr><td>{@code CONFIG} (700 to 799)</td><td>4</td></tr>
     * <tr><td>{@code FINE} (500 to 699)</td><td>5</td></tr>
     * <tr><td>{@code FINER} (400 to 499)</td><td>6</td></tr>
     * <tr><td>{@code FINEST} and below (below 400)</td><td>7</td></tr>
     * </table>
     *
     * @param level a record's level
     * @return the trace level, 1 to 7
     */
    public static int traceLevel(Level level) {
        int v = level.intValue();
        int[] floors = {1000, 900, 800, 700, 500, 400};
        for (int i = 0; i < floors.length; i++) {
            if (v >= floors[i]) {
                return i + 1;
            }
        }
        return 7;
    }

    @Override
    String write(LogRecord record, String text) {
        ZolkErrCode err = trace.put(traceLevel(record.getLevel()), bytes(record.getLoggerName()),
                bytes(Thread.currentThread().getName()), null, bytes(text));
        return err == null ? null : "the trace write failed: " + err;
    }

    @Override
    String release() {
        ZolkErrCode err = trace.end();
        return err == null ? null : "the trace could not be ended: " + err;
    }

    private byte[] bytes(String s) {
        if (s == null) {
            return null;
        }
        return charset != null ? s.getBytes(charset) : s.getBytes();
    }
}
