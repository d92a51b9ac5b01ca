package vqtest;

/**
 * Runs the cases of one Java test program in order and prints "ok <case>" or
 * "FAILED <case>" with the failure; `finish` ends the program with status 1 when any case
 * failed. A case that fails does not stop the later ones.
 */
public final class Cases {
    private final String title;
    private int failures;
    private int passed;

    public Cases(String title) {
        this.title = title;
    }

    public void run(String name, Check.Body body) {
        try {
            body.run();
            passed++;
            System.out.println("ok " + name);
        } catch (Throwable t) {
            failures++;
            System.out.println("FAILED " + name + ": " + t);
            t.printStackTrace(System.out);
        }
        System.out.flush();
    }

    public int failures() {
        return failures;
    }

    public void finish() {
        System.out.println(title + ": " + passed + " passed, " + failures + " failed");
        System.out.flush();
        System.exit(failures == 0 ? 0 : 1);
    }
}
