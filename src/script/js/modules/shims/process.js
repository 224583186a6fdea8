// esbuild hands this to the files that name `process` (the stream
// polyfill), so no `process` global tells scripts or modules they run in node.
import process from 'process';
export { process };
