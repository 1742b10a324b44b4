package pelvar.zolklib2.logging;

import java.nio.charset.Charset;
import java.util.Locale;
import java.util.Map;
import java.util.logging.ErrorManager;
import java.util.logging.Filter;
import java.util.logging.Formatter;
import java.util.logging.Handler;
import java.util.logging.Level;
import java.util.logging.LogManager;
import java.util.logging.SimpleFormatter;

/**
 * The properties "prefix.key" of one handler, read from the {@link LogManager}
 * as the JDK's handlers read theirs. A value that cannot be used is reported
 * through the handler's {@link ErrorManager}, naming the property and the
 * value, and the default stands: a bad line in a logging configuration must
 * not stop the application.
 */
final class HandlerProperties {
    /** Where a bad value is reported: the handler's own reportError. */
    interface Reporter {
        void report(String message, Exception cause, int code);
    }

    private final String prefix;
    private final Reporter reporter;
    private final LogManager manager = LogManager.getLogManager();

    HandlerProperties(String prefix, Reporter reporter) {
        this.prefix = prefix;
        this.reporter = reporter;
    }

    /** The trimmed value, or def if the property is absent or blank. */
    String string(String key, String def) {
        String value = manager.getProperty(prefix + "." + key);
        return value == null || value.isBlank() ? def : value.trim();
    }

    void bad(String key, String value, Exception cause) {
        reporter.report("bad property " + prefix + "." + key + "=" + value, cause,
                ErrorManager.GENERIC_FAILURE);
    }

    int integer(String key, int def, int min, int max) {
        String value = string(key, null);
        if (value == null) {
            return def;
        }
        try {
            int n = Integer.parseInt(value);
            if (n >= min && n <= max) {
                return n;
            }
            bad(key, value, null);
        } catch (NumberFormatException e) {
            bad(key, value, e);
        }
        return def;
    }

    /** One of the names (case ignored), or def. */
    <T> T choice(String key, Map<String, T> names, T def) {
        String value = string(key, null);
        if (value == null) {
            return def;
        }
        T found = names.get(value.toLowerCase(Locale.ROOT));
        if (found == null) {
            bad(key, value, null);
            return def;
        }
        return found;
    }

    /** The bits of the names listed (separated by commas or blanks), or def if one is unknown. */
    int bits(String key, Map<String, Integer> names, int def) {
        String value = string(key, null);
        if (value == null) {
            return def;
        }
        int bits = 0;
        for (String name : value.toLowerCase(Locale.ROOT).split("[,\\s]+")) {
            Integer bit = names.get(name);
            if (bit == null) {
                bad(key, value, null);
                return def;
            }
            bits |= bit;
        }
        return bits;
    }

    /** The character set named by key, or null (the platform's default) if absent or bad. */
    Charset charset(String key) {
        String value = string(key, null);
        if (value != null) {
            try {
                return Charset.forName(value);
            } catch (IllegalArgumentException e) {
                bad(key, value, e);
            }
        }
        return null;
    }

    /**
     * Sets the handler's level, filter and formatter from "level", "filter"
     * and "formatter" (a class with a public constructor without arguments,
     * loaded by the system class loader); the formatter's default is
     * {@link SimpleFormatter}.
     */
    void configure(Handler handler, Level defaultLevel) {
        Level level = defaultLevel;
        String value = string("level", null);
        if (value != null) {
            try {
                level = Level.parse(value);
            } catch (IllegalArgumentException e) {
                bad("level", value, e);
            }
        }
        handler.setLevel(level);
        handler.setFilter(instance("filter", Filter.class));
        Formatter formatter = instance("formatter", Formatter.class);
        handler.setFormatter(formatter != null ? formatter : new SimpleFormatter());
    }

    private <T> T instance(String key, Class<T> type) {
        String value = string(key, null);
        if (value == null) {
            return null;
        }
        try {
            Class<?> cls = ClassLoader.getSystemClassLoader().loadClass(value);
            return type.cast(cls.getDeclaredConstructor().newInstance());
        } catch (ReflectiveOperationException | RuntimeException e) {
            bad(key, value, e);
            return null;
        }
    }

    /** The text a formatter gave, without the line ends it closes with (one record is one message). */
    static String trimLineEnd(String text) {
        int end = text.length();
        while (end > 0 && (text.charAt(end - 1) == '\n' || text.charAt(end - 1) == '\r')) {
            end--;
        }
        return text.substring(0, end);
    }
}
