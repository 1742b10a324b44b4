import java.util.ArrayList;
import java.util.List;
import java.util.logging.Level;
import java.util.logging.Logger;

/**
 * Logs as an application does. The JDK finds a logger's caller on the stack,
 * and a call straight from a native thread has none, so the tests log
 * through these methods.
 */
final class LoggingDriver {
    private LoggingDriver() {
    }

    static void log(String logger, String level, String text) {
        Logger.getLogger(logger).log(Level.parse(level), text);
    }

    /** Each of n threads logs records FINE records through its logger "t" + i. */
    static void threads(int n, int records) throws InterruptedException {
        List<Thread> threads = new ArrayList<>();
        for (int i = 0; i < n; i++) {
            Logger logger = Logger.getLogger("t" + i);
            Thread t = new Thread(() -> {
                for (int r = 0; r < records; r++) {
                    logger.fine("x");
                }
            });
            t.start();
            threads.add(t);
        }
        for (Thread t : threads) {
            t.join();
        }
    }

    /** Logs an ERROR record through System.getLogger and names the finder that served it. */
    static String systemLogger(String name, String text) {
        System.getLogger(name).log(System.Logger.Level.ERROR, text);
        return System.LoggerFinder.getLoggerFinder().getClass().getName();
    }
}
