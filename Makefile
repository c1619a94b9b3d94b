# The two commands of README.md, plus the build they share.
BUILD_DIR := build

.PHONY: all build configure deps check demo deb benchmark soak sanitize fuzz format pot clean

all: build

deps:
	@tools/install-deps

configure:
	@test -f $(BUILD_DIR)/build.ninja || cmake --preset default

build: configure
	cmake --build $(BUILD_DIR)

# The unit tests run under AddressSanitizer and UndefinedBehaviorSanitizer (leaks included), the
# only build that has them; then every other test runs on the normal build, one per core at a
# time, and its summary closes the output. The benchmarks are built, not run, so that they keep
# building.
check: deps
	$(MAKE) build
	cmake --build $(BUILD_DIR) --target halcyra-counts-benchmark halcyra-roster-benchmark
	@test -f build-sanitize/build.ninja || cmake --preset sanitize
	cmake --build build-sanitize --target halcyra-unit-tests halcyra-fuzz-replay
	ASAN_OPTIONS=detect_leaks=1 build-sanitize/bin/halcyra-unit-tests --gtest_brief=1
	ASAN_OPTIONS=detect_leaks=1 build-sanitize/bin/halcyra-fuzz-replay tests/fuzz/corpus
	ctest --test-dir $(BUILD_DIR) --output-on-failure --timeout 900 --parallel $(shell nproc)

demo: deps
	$(MAKE) build
	tools/demo

# A Debian package of Halcyra in build/package/, checked by lintian; install it with
# `sudo apt install ./build/package/halcyra_*.deb`.
deb: deps
	$(MAKE) build
	rm -rf $(BUILD_DIR)/package
	cd $(BUILD_DIR) && cpack
	lintian --fail-on error $(BUILD_DIR)/package/halcyra_*.deb

# Prints launch-to-home time and memory, the cost of counts polling and the roster export and
# framing times; not part of the tests.
benchmark: deps
	@tools/install-deps tools/benchmark-packages.txt
	$(MAKE) build
	cmake --build $(BUILD_DIR) --target halcyra-counts-benchmark halcyra-roster-benchmark
	benchmarks/run-launch-benchmark 5
	tests/engine/run-with-display tests/platform/run-with-services $(BUILD_DIR)/bin/halcyra-counts-benchmark
	tests/engine/run-with-display tests/platform/run-with-services $(BUILD_DIR)/bin/halcyra-roster-benchmark

# A working day in fast motion (SOAK_MINUTES, 120 by default): memory, web processes, password
# submissions and counts every minute while sessions end, the network drops and the computer
# sleeps; writes build/soak.csv and prints a summary. Not part of the tests.
soak: deps
	$(MAKE) build
	benchmarks/run-soak

sanitize: deps
	cmake --preset sanitize
	cmake --build build-sanitize
	ctest --test-dir build-sanitize --output-on-failure

# Each fuzz target (clang, libFuzzer) for FUZZ_SECONDS, or only those named in FUZZ_TARGETS; what
# they found is listed at the end and kept in build-fuzz/fuzz-findings.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?=
fuzz: deps
	@test -f build-fuzz/build.ninja || cmake --preset fuzz
	cmake --build build-fuzz --target fuzz-targets
	tests/fuzz/run-fuzzers build-fuzz $(FUZZ_SECONDS) $(FUZZ_TARGETS)

format:
	git ls-files 'src/*.h' 'src/*.cpp' 'tests/*.h' 'tests/*.cpp' | xargs clang-format -i

# The translation template, build/po/halcyra.pot, from the marked texts.
pot: configure
	cmake --build $(BUILD_DIR) --target pot

clean:
	rm -rf $(BUILD_DIR) build-sanitize build-fuzz
