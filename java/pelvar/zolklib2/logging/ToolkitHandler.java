package pelvar.zolklib2.logging;

import java.util.concurrent.locks.ReentrantReadWriteLock;
import java.util.logging.ErrorManager;
import java.util.logging.Handler;
import java.util.logging.Level;
import java.util.logging.LogRecord;

/**
 * What the toolkit's handlers share: the properties read as the JDK's
 * handlers read theirs, formatting, and the lock that keeps every write off
 * the native instance while and after {@link #close()} releases it.
 * Publishers share the lock, close() holds it alone; a record published once
 * the instance is released is dropped without a report.
 */
abstract class ToolkitHandler extends Handler {
    private final ReentrantReadWriteLock lock = new ReentrantReadWriteLock();
    private boolean open;

    /** Reads level, filter and formatter under prefix, then the subclass's own properties. */
    final void configure(String prefix) {
        HandlerProperties p = new HandlerProperties(prefix, this::reportError);
        p.configure(this, Level.ALL);
        open = open(p);
    }

    /** Makes the native instance from the properties; false if there is none to write to. */
    abstract boolean open(HandlerProperties p);

    /** Writes a formatted record to the open instance; answers what failed, or null. */
    abstract String write(LogRecord record, String text);

    /** Releases the instance; answers what failed, or null. */
    abstract String release();

    /**
     * Writes the record, if it is loggable, as the formatter gives it without
     * its closing line ends.
     *
     * @param record the record; null is ignored
     */
    @Override
    public void publish(LogRecord record) {
        if (!isLoggable(record)) {
            return;
        }
        String text;
        try {
            text = HandlerProperties.trimLineEnd(getFormatter().format(record));
        } catch (RuntimeException e) {
            reportError(null, e, ErrorManager.FORMAT_FAILURE);
            return;
        }
        String failure;
        lock.readLock().lock();
        try {
            if (!open) {
                return;
            }
            failure = write(record, text);
        } finally {
            lock.readLock().unlock();
        }
        if (failure != null) {
            reportError(failure, null, ErrorManager.WRITE_FAILURE);
        }
    }

    /** Nothing to do: every record is handed on when it is published. */
    @Override
    public void flush() {
    }

    /** Releases the native instance; later records are dropped. A second call does nothing. */
    @Override
    public void close() {
        String failure = null;
        lock.writeLock().lock();
        try {
            if (open) {
                open = false;
                failure = release();
            }
        } finally {
            lock.writeLock().unlock();
        }
        if (failure != null) {
            reportError(failure, null, ErrorManager.CLOSE_FAILURE);
        }
    }
}
