# The JDK: Java 17 (javac, java, jar) and its JNI headers. FindJNI looks in JAVA_HOME
# and a few fixed places; this machine has no default-java link, so when JAVA_HOME is not
# given we take it from the javac on the PATH. Included by every folder that needs the
# JDK; the result is cached, so later folders find the same JDK. Only the JNI headers are
# needed (nothing links the VM): the AWT library, which the headless JDK lacks, is not
# asked for.
if(NOT JAVA_HOME AND NOT DEFINED ENV{JAVA_HOME})
  find_program(VQ_JAVAC javac)
  if(VQ_JAVAC)
    get_filename_component(_vq_javac ${VQ_JAVAC} REALPATH)
    get_filename_component(_vq_jdk_bin ${_vq_javac} DIRECTORY)
    get_filename_component(_vq_jdk ${_vq_jdk_bin} DIRECTORY)
    set(JAVA_HOME ${_vq_jdk} CACHE PATH "The JDK the Java classes and the JNI bridge build with")
  endif()
endif()
find_package(Java 17 COMPONENTS Development Runtime)
find_package(JNI COMPONENTS JVM)
