package pelvar.zolklib2.loggerfinder;

import java.util.ResourceBundle;
import java.util.logging.Handler;
import java.util.logging.Level;
import java.util.logging.LogRecord;

import pelvar.zolklib2.logging.ZolkSyslogHandler;

/**
 * The {@link System.LoggerFinder} of {@code zolklib2-loggerfinder.jar}: every
 * {@link System.Logger} it gives writes through one
 * {@link ZolkSyslogHandler}, configured by that class's properties in the
 * logging configuration and made at the first record. It lives in a jar of
 * its own because the JDK takes the first finder on the class path: putting
 * that jar there is the application's choice to send its
 * {@code System.getLogger} records to the system log.
 *
 * <p>Levels map as the JDK maps them to {@code java.util.logging}, and from
 * there to priorities by {@link ZolkSyslogHandler#priority(Level)}:
 * {@code ERROR} to {@code SEVERE} ({@code LOG_ERR}), {@code WARNING} to
 * {@code WARNING} ({@code LOG_WARNING}), {@code INFO} to {@code INFO}
 * ({@code LOG_NOTICE}), {@code DEBUG} to {@code FINE} and {@code TRACE} to
 * {@code FINER} (both {@code LOG_INFO}); {@code ALL} and {@code OFF} to
 * the levels of the same names.
 */
public final class ZolkLoggerFinder extends System.LoggerFinder {
    /** Made by {@link java.util.ServiceLoader}. */
    public ZolkLoggerFinder() {
    }

    /**
     * A logger writing through the shared handler.
     *
     * @param name   the logger's name
     * @param module the caller's module (not used)
     * @return the logger
     */
    @Override
    public System.Logger getLogger(String name, Module module) {
        return new SyslogLogger(name);
    }

    /** The handler, made when the first logger needs it. */
    private static final class Shared {
        static final Handler HANDLER = new ZolkSyslogHandler(ZolkSyslogHandler.class.getName());
    }

    static Level julLevel(System.Logger.Level level) {
        switch (level) {
            case ALL: return Level.ALL;
            case TRACE: return Level.FINER;
            case DEBUG: return Level.FINE;
            case INFO: return Level.INFO;
            case WARNING: return Level.WARNING;
            case ERROR: return Level.SEVERE;
            default: return Level.OFF;
        }
    }

    private static final class SyslogLogger implements System.Logger {
        private final String name;

        SyslogLogger(String name) {
            this.name = name;
        }

        @Override
        public String getName() {
            return name;
        }

        @Override
        public boolean isLoggable(System.Logger.Level level) {
            java.util.logging.Level jul = julLevel(level);
            java.util.logging.Level threshold = Shared.HANDLER.getLevel();
            return jul != java.util.logging.Level.OFF && threshold != java.util.logging.Level.OFF
                    && jul.intValue() >= threshold.intValue();
        }

        @Override
        public void log(System.Logger.Level level, ResourceBundle bundle, String msg, Throwable thrown) {
            publish(level, bundle, msg, thrown, null);
        }

        @Override
        public void log(System.Logger.Level level, ResourceBundle bundle, String format, Object... params) {
            publish(level, bundle, format, null, params);
        }

        private void publish(System.Logger.Level level, ResourceBundle bundle, String msg, Throwable thrown,
                Object[] params) {
            if (!isLoggable(level)) {
                return;
            }
            LogRecord record = new LogRecord(julLevel(level), msg);
            record.setLoggerName(name);
            record.setResourceBundle(bundle);
            record.setThrown(thrown);
            record.setParameters(params);
            // The record would otherwise name this class as its source.
            StackWalker.getInstance().walk(frames -> frames
                    .dropWhile(f -> !f.getClassName().equals(SyslogLogger.class.getName()))
                    .dropWhile(f -> f.getClassName().equals(SyslogLogger.class.getName())
                            || f.getClassName().startsWith("java.lang.System$Logger"))
                    .findFirst())
                    .ifPresent(f -> {
                        record.setSourceClassName(f.getClassName());
                        record.setSourceMethodName(f.getMethodName());
                    });
            Shared.HANDLER.publish(record);
        }
    }
}
