# SPDX-License-Identifier: MIT
# Front door: `make` builds the programs, `make demo` runs a server and a
# client on loopback, `make test` builds and runs every test in a normal and a
# sanitizer build, `make install` installs an optimised, stripped build under
# PREFIX (and DESTDIR), `make deb` builds the Debian packages. cmake's output
# goes to logs in the build directory; VERBOSE=1 shows it all.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
PREFIX ?= /usr/local
FUZZ_SECONDS ?= 60
DESTDIR ?=
# What `make` and `make demo` build: the programs, not the test programs.
PROGRAMS ?= pacelag pacelag-lab
BUILD = env JOBS=$(JOBS) scripts/build.sh
# One line as each phase of a long target starts and ends, with the time.
PHASE = scripts/phase.sh
export VERBOSE

.PHONY: all deps test-deps build demo lab test test-normal test-asan tsan test-fuzz fuzz bench install deb clean format

all: build

deps:
	@scripts/deps.sh

build: deps
	@$(BUILD) build "-DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)" $(PROGRAMS)

demo: deps
	@$(BUILD) build "-DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)" pacelag
	@scripts/demo.sh build/pacelag

# A 30 s experiment: through namespaces and a shaped link as root, loopback otherwise.
lab: build
	@scripts/deps.sh lab
	@if [ "$$(id -u)" = 0 ]; then link="-link-rate 1mbit"; else link=""; fi; \
	build/src/lab/pacelag-lab run -client-rate 4 -server-rate 2 -buflen 2048 -seconds 30 \
	    $$link -out lab-out

test-deps:
	@scripts/deps.sh test

test-normal: test-deps
	@$(PHASE) "normal build: compile" $(BUILD) build "-DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)"
	@$(PHASE) "normal build: tests" ctest --test-dir build -j $(JOBS) --output-on-failure

test-asan: test-deps
	@$(PHASE) "sanitizer build: compile" \
	    $(BUILD) build-asan "-DCMAKE_BUILD_TYPE=Debug -DPACELAG_SANITIZE=ON $(CMAKE_FLAGS)"
	@$(PHASE) "sanitizer build: tests" env ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    ctest --test-dir build-asan -j $(JOBS) --output-on-failure

tsan: test-deps
	@$(PHASE) "thread sanitizer build: compile" \
	    $(BUILD) build-tsan "-DCMAKE_BUILD_TYPE=Debug -DPACELAG_TSAN=ON $(CMAKE_FLAGS)" threads_test
	@$(PHASE) "thread sanitizer build: tests" \
	    ctest --test-dir build-tsan --output-on-failure -R '^threads_test$$'

# Each fuzz target over its seed corpus plus a short bounded run.
test-fuzz: test-deps
	@$(PHASE) "fuzzing" env JOBS=$(JOBS) scripts/fuzz.sh check

test: test-normal test-asan tsan test-fuzz
	@echo "== $$(date +%H:%M:%S) make test: every phase passed"

fuzz:
	JOBS=$(JOBS) FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz.sh run

# BENCH, BENCH_SECONDS and BENCH_BUSY choose and shorten the runs (scripts/bench.sh).
export BENCH BENCH_SECONDS BENCH_BUSY
bench:
	@scripts/deps.sh bench
	@$(BUILD) build-bench "-DCMAKE_BUILD_TYPE=Release -DPACELAG_TESTS=OFF -DPACELAG_BENCH=ON $(CMAKE_FLAGS)"
	scripts/bench.sh build-bench

# The prefix is given when configuring too: GNUInstallDirs picks the library
# directory from it (lib/<multiarch> under /usr on Debian).
install: deps
	@$(BUILD) build-release "-DCMAKE_BUILD_TYPE=Release -DPACELAG_TESTS=OFF -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_FLAGS)"
	DESTDIR="$(DESTDIR)" cmake --install build-release --prefix $(PREFIX) --strip

deb:
	@scripts/deps.sh deb
	@$(BUILD) build-deb "-DCMAKE_BUILD_TYPE=Release -DPACELAG_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr $(CMAKE_FLAGS)"
	cd build-deb && cpack -G DEB
	@echo "lintian (fails on any error or warning):"
	lintian --fail-on error,warning build-deb/*.deb

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build build-asan build-tsan build-bench build-release build-deb build-fuzz
