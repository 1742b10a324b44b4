package pelvar.zolklib2;

import java.util.concurrent.locks.StampedLock;
import java.util.function.IntSupplier;
import java.util.function.Supplier;

/**
 * Internal: the locking of the toolkit's instance trace classes
 * ({@link ZolkJniTrace2} and {@code pelvar.zolklibM.ZolkJniTrace}), public
 * only because they lie in two packages. Applications have no use for it, and
 * it may change in any version.
 *
 * <p>An instance is started and ended under the exclusive lock, so that it is
 * made and deleted once; every call passing its handle to the core holds the
 * lock shared, so that none passes a handle the core has deleted (and may
 * give again). Shared calls do not wait for one another.
 */
public final class ZolkTraceInstanceLock {
    private final StampedLock lock = new StampedLock();
    private boolean started;

    /** A lock with no instance started. */
    public ZolkTraceInstanceLock() {
    }

    /**
     * Runs the start of an instance alone; the instance counts as started if
     * it answers null.
     *
     * @param <E>   the error type
     * @param start makes the instance
     * @return what start answered
     * @throws IllegalStateException if an instance is started already
     */
    public <E> E start(Supplier<E> start) {
        long stamp = lock.writeLock();
        try {
            if (started) {
                throw new IllegalStateException("the instance is already started");
            }
            E err = start.get();
            started = err == null;
            return err;
        } finally {
            lock.unlockWrite(stamp);
        }
    }

    /**
     * Runs the end of the started instance alone, once; without one, answers null.
     *
     * @param <E> the error type
     * @param end deletes the instance
     * @return what end answered, or null
     */
    public <E> E end(Supplier<E> end) {
        long stamp = lock.writeLock();
        try {
            if (!started) {
                return null;
            }
            started = false;
            return end.get();
        } finally {
            lock.unlockWrite(stamp);
        }
    }

    /**
     * Runs a call that passes the handle, wholly before or wholly after an end.
     *
     * @param <T>  the result type
     * @param call the call
     * @return its result
     */
    public <T> T shared(Supplier<T> call) {
        long stamp = lock.readLock();
        try {
            return call.get();
        } finally {
            lock.unlockRead(stamp);
        }
    }

    /**
     * {@link #shared(Supplier)} for a call answering an {@code int}.
     *
     * @param call the call
     * @return its result
     */
    public int sharedInt(IntSupplier call) {
        long stamp = lock.readLock();
        try {
            return call.getAsInt();
        } finally {
            lock.unlockRead(stamp);
        }
    }

    /**
     * Whether an instance is started (read without the lock, for descriptions).
     *
     * @return true between a successful start and its end
     */
    public boolean isStarted() {
        return started;
    }
}
