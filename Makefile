# Front door: `make run` builds and starts Lintbay, `make test` builds it and runs every test.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: deps configure build run test demo clean

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

clean:
	rm -rf $(BUILD)
