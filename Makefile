# Entry points for newcomers and CI; CMake presets do the real work.
.PHONY: deps build test sanitize demo clean

deps:
	@./scripts/install-deps

build: deps
	cmake --preset default
	cmake --build --preset default

test: build
	ctest --preset default

sanitize: deps
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan

demo: build
	./build/bin/rx300-updater-cli --simulate

clean:
	rm -rf build build-asan build-tsan
