import java.io.IOException;
import java.util.logging.FileHandler;
import java.util.logging.Handler;
import java.util.logging.Logger;
import java.util.logging.SimpleFormatter;

import pelvar.zolklib2.logging.ZolkSyslogHandler;

/** Java side of the handlers' benchmark: the same records through two loggers. */
public final class HandlerLoop {
    private static final Logger SYSLOG = Logger.getLogger("bench.syslog");
    private static final Logger FILE = Logger.getLogger("bench.file");

    private HandlerLoop() {
    }

    /**
     * Gives each logger its handler alone, both with the JDK's simple formatter.
     *
     * @param path the file the file handler writes
     * @throws IOException if the file cannot be opened
     */
    public static void setUp(String path) throws IOException {
        Handler file = new FileHandler(path);
        file.setFormatter(new SimpleFormatter());
        attach(FILE, file);
        attach(SYSLOG, new ZolkSyslogHandler());
    }

    private static void attach(Logger logger, Handler handler) {
        logger.setUseParentHandlers(false);
        logger.addHandler(handler);
    }

    /**
     * Logs text n times at INFO through the system log handler, or the file handler.
     *
     * @param toSyslog true for the system log handler
     * @param text     the message
     * @param n        how many records
     */
    public static void log(boolean toSyslog, String text, int n) {
        Logger logger = toSyslog ? SYSLOG : FILE;
        for (int i = 0; i < n; i++) {
            logger.info(text);
        }
    }
}
