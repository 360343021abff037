# Front door: `make run` builds and starts Lintbay, `make test` builds it and runs every test.
# `make test-sanitize` builds the core suites with AddressSanitizer and UndefinedBehaviorSanitizer
# (clang, in a build folder of its own) and runs them; `make test-sanitize-gui` the GUI suites.
# `make fuzz-smoke` builds the libFuzzer targets of fuzz/ in that same folder (the core is built once
# for both) and runs each for FUZZ_SECONDS.
# `make package` builds the Debian package (CPack) into $(BUILD); `make package-check` installs it,
# checks the installed menu entry, metainfo and start, and removes it again (root or sudo).
# `make screenshots` redraws the pictures of the windows in docs/ under Xvfb.
BUILD ?= build
SANITIZE_BUILD ?= build-asan
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60

# Sanitizer run time options: leaks are looked for, undefined behaviour stops the test with a stack.
SANITIZE_ASAN = detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:strict_string_checks=1
SANITIZE_ENV = ASAN_OPTIONS=$(SANITIZE_ASAN) UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
               QT_QPA_PLATFORM=offscreen
# The GUI suites run Qt WebEngine. Its Chromium frees some objects with another size than they were
# made with (that check cannot be limited to one library, so it is off there) and keeps objects to
# the end of the process (suppressed by library in tests/sanitize/lsan.supp).
SANITIZE_GUI_ENV = ASAN_OPTIONS=$(SANITIZE_ASAN):new_delete_type_mismatch=0 \
                   LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitize/lsan.supp:print_suppressions=0 \
                   UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 QT_QPA_PLATFORM=offscreen \
                   QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox"

.PHONY: deps configure build run test sanitize-configure test-sanitize test-sanitize-gui fuzz-build \
        fuzz-smoke demo package package-check screenshots clean

deps:
	bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/src/lintbay

demo: build
	BUILD=$(BUILD) bash scripts/demo.sh

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

sanitize-configure: deps
	CC=clang CXX=clang++ cmake -S . -B $(SANITIZE_BUILD) -DLINTBAY_SANITIZE=ON -DLINTBAY_FUZZ=ON \
	    -DCMAKE_BUILD_TYPE=Debug

test-sanitize: sanitize-configure
	cmake --build $(SANITIZE_BUILD) -j $(JOBS) --target core_suites
	cd $(SANITIZE_BUILD) && $(SANITIZE_ENV) ctest -L core --output-on-failure -j $(JOBS)

test-sanitize-gui: sanitize-configure
	cmake --build $(SANITIZE_BUILD) -j $(JOBS) --target gui_suites
	cd $(SANITIZE_BUILD) && $(SANITIZE_GUI_ENV) ctest -L gui --output-on-failure -j $(JOBS)

fuzz-build: sanitize-configure
	cmake --build $(SANITIZE_BUILD) -j $(JOBS) --target fuzz_targets

fuzz-smoke: fuzz-build
	FUZZ_BUILD=$(SANITIZE_BUILD) bash fuzz/run.sh $(FUZZ_SECONDS)

package: build
	cmake --build $(BUILD) --target package

package-check: package
	BUILD=$(BUILD) bash scripts/package-check.sh

screenshots: build
	BUILD=$(BUILD) bash scripts/screenshots.sh

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD)
